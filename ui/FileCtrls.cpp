#include "ui/FileCtrls.h"

#include <fnmatch.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace ui {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

void TFileListBox::SetDirectory(const std::string& value) {
  directory_ = value;
  if (!IsLoading()) Update();
}

void TFileListBox::SetMask(const std::string& value) {
  mask_ = value;
  if (!IsLoading()) Update();
}

bool TFileListBox::Matches(const std::string& fileName) const {
  for (const std::string& wildcard : Split(mask_, ';')) {
    if (wildcard == "*.*" || wildcard == "*") return true;
    if (!wildcard.empty() && fnmatch(wildcard.c_str(), fileName.c_str(), FNM_CASEFOLD) == 0) return true;
  }
  return false;
}

void TFileListBox::Update() {
  std::vector<std::string> names;
  std::error_code error;
  const std::filesystem::path folder = directory_.empty() ? std::filesystem::current_path(error) : std::filesystem::path(directory_);
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::string name = it->path().filename().string();
    if (Matches(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  SetItems(platform::TStringList(std::move(names)));
}

void TFileListBox::Loaded() {
  TCustomListBox::Loaded();
  Update();
}

const platform::PropertyTable& TFileListBox::ClassProperties() {
  static const platform::PropertyTable table = platform::PropertyTable(&TCustomListBox::ClassProperties())
                                                   .Property("Directory", &TFileListBox::Directory, &TFileListBox::SetDirectory)
                                                   .Property("Mask", &TFileListBox::Mask, &TFileListBox::SetMask);
  return table;
}

void TFilterComboBox::SetFilter(const std::string& value) {
  filter_ = value;
  const std::vector<std::string> parts = value.empty() ? std::vector<std::string>{} : Split(value, '|');
  platform::TStringList descriptions;
  for (std::size_t i = 0; i < parts.size(); i += 2) descriptions.Add(parts[i]);
  const int selected = ItemIndex();
  SetItems(descriptions);
  if (selected < 0 && descriptions.Count() > 0 && !IsLoading()) SetItemIndex(0);
}

std::string TFilterComboBox::Mask() const {
  if (ItemIndex() < 0) return {};
  const std::vector<std::string> parts = Split(filter_, '|');
  const std::size_t at = static_cast<std::size_t>(ItemIndex()) * 2 + 1;
  return at < parts.size() ? parts[at] : std::string();
}

const platform::PropertyTable& TFilterComboBox::ClassProperties() {
  static const platform::PropertyTable table = platform::PropertyTable(&TCustomComboBox::ClassProperties())
                                                   .Property("Filter", &TFilterComboBox::Filter, &TFilterComboBox::SetFilter);
  return table;
}

}  // namespace ui
