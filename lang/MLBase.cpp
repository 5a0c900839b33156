#include "lang/MLBase.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <optional>

#include "lang/StringLibrary.h"
#include "ui/Methods.h"
#include "ui/Prompter.h"

namespace {

const char* const kLanguageTooHigh = "Value must not be higher than\rnumber of available languages.";
const char* const kNoLanguage = "You have to provide at least 1 language.";
const char* const kDropActiveLanguage =
    "You are decreasing the number of languages.\rEntries for the removed language will be lost.\r"
    "The currently displayed language will be deleted, too.\r\rDo you really want to continue?";
const char* const kDropLanguages =
    "You are decreasing the number of languages.\rEntries for the removed language will be lost.\r\rContinue?";
const char* const kDropPositions =
    "You are going to drop the positions.\rCurrently different values are stored for each language,\r"
    "Do you want to drop these values?";
const char* const kDropFormPositions =
    "You are going to drop the positions for the form.\rCurrently different values are stored for each "
    "language.\rDo you want to drop these values?";
const char* const kCancelled = "Cancelled.";
const char* const kFormKey = "%Form%";
constexpr std::size_t kMaxCharSetDigits = 999;
constexpr int kLibraryFirstId = 1000;
constexpr int kLibraryIdStep = 100;
constexpr std::size_t kLibraryMaxChars = 300;

std::vector<TBaseMultiLang*> instances;
std::uint8_t globalLanguage = 0;
TGlobalLanguageListener globalLanguageListener;
std::string stringLibraryName;

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Ask(const char* question, ui::TMsgDlgType type) {
  return ui::MessageDlg(question, type, ui::mbYes | ui::mbNo) == ui::mrYes;
}

std::vector<std::string> SplitComma(const std::string& line) {
  platform::TStringList fields;
  fields.SetCommaText(line);
  return fields.Lines();
}

std::string JoinComma(std::vector<std::string> fields) { return platform::TStringList(std::move(fields)).CommaText(); }

// The last line of lines that starts with key and a comma, or -1.
int FindKeyLine(const platform::TStringList& lines, const std::string& key) {
  const std::string prefix = key + ",";
  for (int i = lines.Count() - 1; i >= 0; --i) {
    if (lines[i].starts_with(prefix)) return i;
  }
  return -1;
}

bool LanguageFieldsDiffer(const std::vector<std::string>& fields) {
  return fields.size() > 2 && std::any_of(fields.begin() + 2, fields.end(), [&](const std::string& f) { return f != fields[1]; });
}

// A whole decimal number (optional sign, blanks before it); nothing for anything else.
std::optional<int> ParseInt(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string FileNamePart(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

const std::vector<TBaseMultiLang*>& MultiLangInstances() { return instances; }
std::uint8_t GlobalLanguage() { return globalLanguage; }
void SetGlobalLanguageIndex(std::uint8_t language) { globalLanguage = language; }

TGlobalLanguageListener SetGlobalLanguageListener(TGlobalLanguageListener listener) {
  return std::exchange(globalLanguageListener, std::move(listener));
}

void TellGlobalLanguageListener(std::uint8_t language) {
  if (globalLanguageListener) globalLanguageListener(language);
}
const std::string& StringLibraryName() { return stringLibraryName; }
void SetStringLibraryName(const std::string& name) { stringLibraryName = name; }

TBaseMultiLang::TBaseMultiLang(platform::TComponent* owner) : platform::TComponent(owner) { instances.push_back(this); }

TBaseMultiLang::~TBaseMultiLang() { std::erase(instances, this); }

// ---- Reading the table ----

bool TBaseMultiLang::HasText(int index) const { return index >= 0 && index + activeLanguage_ + 1 < words_.Count(); }

bool TBaseMultiLang::IsContinuation(int index) const {
  return index >= 0 && index < words_.Count() && words_[index] == "\"";
}

bool TBaseMultiLang::IsHintKey(int index) const {
  return index >= 0 && index < words_.Count() && Lowered(words_[index]) == "\".hint";
}

bool TBaseMultiLang::NextWord(int& index, std::string& word) const {
  if (!HasText(index)) return false;
  word = words_[index + activeLanguage_ + 1];
  const int fallback = index + defaultLanguage_ + 1;
  if (word.empty() && defaultEnabled_ && fallback < words_.Count()) word = words_[fallback];
  index += GroupSize();
  return true;
}

bool TBaseMultiLang::ShouldTranslate(const platform::TComponent& component) const {
  if (translateEdits_ == teAlways) return true;
  if (component.HasProperty("Action") && !component.GetProperty("Action").IsEmpty()) return false;
  if (component.HasProperty("ReadOnly") && (component.HasProperty("Text") || component.HasProperty("Lines"))) {
    return translateEdits_ == teReadOnly && component.GetProperty("ReadOnly").AsBool();
  }
  return true;
}

// ---- The switch ----

void TBaseMultiLang::SetActiveLanguage(std::uint8_t value) {
  if (value >= languages_) {
    ui::MessageDlg(kLanguageTooHigh, ui::mtInformation, ui::mbCancel);
    return;
  }
  bool allowIt = true;
  beforeLanguageChange_(this, value, allowIt);
  if (!allowIt) return;
  platform::TComponent* owner = Owner();
  if (owner != nullptr) {
    // A font line that does not parse ends the switch before anything has changed.
    CharSetOf(value);
    SaveCharSet();
    StorePositions(*owner, -1);
    for (int k = 0; k < owner->ComponentCount(); ++k) StorePositions(*owner->Components(k), 0);
  }
  activeLanguage_ = value;
  if (owner != nullptr) {
    ApplyCharSet();
    ApplyPositions(*owner, -1);
    WalkWords();
  }
  afterLanguageChanged_(this, activeLanguage_);
}

void TBaseMultiLang::WalkWords() {
  platform::TComponent& owner = *Owner();
  int i = 0;
  while (i < words_.Count()) {
    const int group = i;
    if (words_[i] == kFormKey) {
      // A cut-off "%Form%" group is a fault of the table itself: it ends the walk.
      if (!HasText(i)) return;
      std::string caption;
      NextWord(i, caption);
      if (owner.HasProperty("Caption")) owner.SetProperty("Caption", caption);
      continue;
    }
    platform::TComponent* component = owner.FindComponent(words_[i]);
    if (component == nullptr || component == this) {
      i += GroupSize();
      continue;
    }
    try {
      ApplyWords(component, i);
    } catch (const platform::Exception&) {
      // One component's texts failed; the others still get theirs.
    }
    // Every component moves the walk on, whatever its applier did.
    i = std::max(i, group + GroupSize());
  }
}

// ---- Fonts ----

void TBaseMultiLang::SaveCharSet() {
  const platform::TComponent& owner = *Owner();
  if (!owner.HasProperty("Font.Name") || !owner.HasProperty("Font.CharSet")) return;
  const platform::Variant name = owner.GetProperty("Font.Name");
  const platform::Variant charSet = owner.GetProperty("Font.CharSet");
  if (name.IsEmpty() || charSet.IsEmpty()) return;
  const std::string line = name.AsString() + "," + std::to_string(charSet.AsInt());
  // Enough lines for every language and for the one being left.
  while (charSets_.Count() < std::max<int>(languages_, activeLanguage_ + 1)) charSets_.Add(line);
  charSets_.SetStrings(activeLanguage_, line);
}

std::optional<std::pair<std::string, int>> TBaseMultiLang::CharSetOf(std::uint8_t language) const {
  if (language >= charSets_.Count()) return std::nullopt;
  const std::string& line = charSets_[language];
  const std::size_t comma = line.find(',');
  const std::optional<int> charSet =
      comma == std::string::npos ? std::nullopt : ParseInt(std::string_view(line).substr(comma + 1, kMaxCharSetDigits));
  if (!charSet || *charSet < 0 || *charSet > 255) {
    throw platform::Exception("Invalid character set \"" + line + "\" for language " + std::to_string(language));
  }
  return std::make_pair(line.substr(0, comma), *charSet);
}

void TBaseMultiLang::ApplyCharSet() {
  const auto font = CharSetOf(activeLanguage_);
  if (!font) return;
  platform::TComponent& owner = *Owner();
  if (owner.HasProperty("Font.Name")) owner.SetProperty("Font.Name", font->first);
  if (owner.HasProperty("Font.CharSet")) owner.SetProperty("Font.CharSet", font->second);
}

// ---- Positions ----

bool TBaseMultiLang::AllowsPositions(int index) const {
  if (switchPositions_ == spNone) return false;
  return !(switchPositions_ == spControlsOnly && index == -1);
}

namespace {

const std::array<const char*, 4> kBounds = {"Left", "Top", "Width", "Height"};

std::string PositionKey(const platform::TComponent& component, int index) {
  return index == -1 ? std::string(kFormKey) : Lowered(component.Name());
}

}  // namespace

void TBaseMultiLang::StorePositions(platform::TComponent& component, int index) {
  if (!AllowsPositions(index) || (index != -1 && component.Name().empty())) return;
  std::string field;
  bool any = false;
  for (std::size_t k = 0; k < kBounds.size(); ++k) {
    if (k > 0) field += '.';
    if (!component.HasProperty(kBounds[k])) continue;  // a missing one reads as an empty text
    any = true;
    field += std::to_string(component.GetProperty(kBounds[k]).AsInt());
  }
  if (!any) return;
  const std::string key = PositionKey(component, index);
  const int line = FindKeyLine(positions_, key);
  if (line < 0) {
    std::string record = key;
    for (int language = 0; language < languages_; ++language) record += "," + field;
    positions_.Add(record);
    return;
  }
  std::vector<std::string> fields = SplitComma(positions_[line]);
  while (fields.size() <= static_cast<std::size_t>(std::max<int>(languages_, activeLanguage_ + 1))) fields.emplace_back();
  fields[activeLanguage_ + 1u] = field;
  positions_.SetStrings(line, JoinComma(std::move(fields)));
}

void TBaseMultiLang::ApplyPositions(platform::TComponent& component, int index) {
  if (!AllowsPositions(index) || (index != -1 && component.Name().empty())) return;
  const int line = FindKeyLine(positions_, PositionKey(component, index));
  if (line < 0) return;
  const std::vector<std::string> fields = SplitComma(positions_[line]);
  if (fields.size() < activeLanguage_ + 2u) return;
  platform::TStringList parts;
  const std::string& field = fields[activeLanguage_ + 1u];
  std::vector<std::string> values;
  for (std::size_t start = 0;;) {
    const std::size_t dot = field.find('.', start);
    values.push_back(field.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (values.size() != kBounds.size()) return;
  for (std::size_t k = 0; k < kBounds.size(); ++k) {
    // A part that is not a number (a bound the component lacked when stored) is left alone.
    const std::optional<int> value = ParseInt(values[k]);
    if (value && component.HasProperty(kBounds[k])) component.SetProperty(kBounds[k], *value);
  }
}

void TBaseMultiLang::SetSwitchPositions(TSwitchPositions value) {
  if (value == switchPositions_) return;
  if (value == spNone) {
    for (int i = positions_.Count() - 1; i >= 0; --i) {
      if (LanguageFieldsDiffer(SplitComma(positions_[i])) && !Ask(kDropPositions, ui::mtWarning)) {
        ui::ShowMessage(kCancelled);
        return;
      }
    }
    positions_.Clear();
  } else if (switchPositions_ == spFormAndControls && value == spControlsOnly) {
    const std::string prefix = std::string(kFormKey) + ",";
    for (int i = 0; i < positions_.Count(); ++i) {
      if (!positions_[i].starts_with(prefix)) continue;
      if (LanguageFieldsDiffer(SplitComma(positions_[i])) && !Ask(kDropFormPositions, ui::mtWarning)) {
        ui::ShowMessage(kCancelled);
        return;
      }
      positions_.Delete(i);
      break;
    }
  }
  switchPositions_ = value;
}

// ---- Number of languages, default language ----

void TBaseMultiLang::SetLanguages(std::uint8_t value) {
  if (value == languages_) return;
  if (value == 0) {
    if (IsLoading()) throw platform::Exception(kNoLanguage);
    ui::MessageDlg(kNoLanguage, ui::mtInformation, ui::mbOK);
    return;
  }
  if (value < languages_ && !IsLoading()) {
    if (activeLanguage_ >= value) {
      if (!Ask(kDropActiveLanguage, ui::mtConfirmation)) return;
      SetActiveLanguage(0);
    } else if (!Ask(kDropLanguages, ui::mtConfirmation)) {
      return;
    }
  }
  ChangeLanguageCount(value);
}

void TBaseMultiLang::ChangeLanguageCount(std::uint8_t count) {
  const int oldGroup = GroupSize();
  const int groups = (words_.Count() + oldGroup - 1) / oldGroup;  // a cut-off last group counts too
  for (int g = groups - 1; g >= 0; --g) {
    const int start = g * oldGroup;
    if (count < languages_) {
      for (int language = languages_ - 1; language >= count; --language) {
        if (start + 1 + language < words_.Count()) words_.Delete(start + 1 + language);
      }
    } else {
      const int after = std::min(start + oldGroup, words_.Count());
      for (int n = languages_; n < count; ++n) words_.Insert(after, "?");
    }
  }
  languages_ = count;
  // Indexes beyond the languages would read other groups' lines as texts.
  if (activeLanguage_ >= languages_) activeLanguage_ = 0;
  if (defaultLanguage_ >= languages_) defaultLanguage_ = 0;
}

void TBaseMultiLang::SetDefaultLanguage(std::uint8_t value) {
  if (IsLoading()) {
    storedDefaultLanguage_ = value;
    return;
  }
  if (value >= languages_) {
    ui::MessageDlg(kLanguageTooHigh, ui::mtInformation, ui::mbCancel);
    return;
  }
  defaultLanguage_ = value;
  SetActiveLanguage(activeLanguage_);
}

void TBaseMultiLang::SetDefaultEnabled(bool value) {
  if (value == defaultEnabled_) return;
  defaultEnabled_ = value;
  SetActiveLanguage(activeLanguage_);
}

// ---- Loading ----

void TBaseMultiLang::Loaded() {
  platform::TComponent::Loaded();
  if (const std::optional<std::uint8_t> stored = std::exchange(storedDefaultLanguage_, std::nullopt)) {
    if (*stored >= languages_) {
      ui::MessageDlg(kLanguageTooHigh, ui::mtInformation, ui::mbCancel);
    } else {
      defaultLanguage_ = *stored;
    }
  }
  if (!IsDesigning()) {
    // A window with fewer languages than the global one stays in its own (as SetGlobalLanguage
    // leaves such windows alone) instead of complaining.
    SetActiveLanguage(globalLanguage < languages_ ? globalLanguage : activeLanguage_);
  }
  if (!stringLibraryName.empty()) LoadStringLibrary();
}

void TBaseMultiLang::LoadStringLibrary() {
  std::error_code error;
  if (!std::filesystem::exists(stringLibraryName, error)) {
    stringLibraryName = std::filesystem::path(stringLibraryName).filename().string();
    return;
  }
  std::optional<TStringLibrary> library;
  try {
    library = TStringLibrary::Load(stringLibraryName);
  } catch (const platform::Exception&) {
    throw platform::Exception("Cannot load string DLL \"" + stringLibraryName + "\".");
  }
  const std::string className = Lowered(Owner() != nullptr ? Owner()->ClassName() : std::string());
  const std::string ownerName = Lowered(Owner() != nullptr ? Owner()->Name() : std::string());
  for (int base = kLibraryFirstId;; base += kLibraryIdStep) {
    const std::optional<std::string> entry = library->String(base, kLibraryMaxChars);
    if (!entry) return;
    if (entry->size() <= 2) continue;
    const std::string target = Lowered(FileNamePart(entry->substr(1)));
    const bool matches = ((*entry)[0] == '%' && target == className) || ((*entry)[0] == '$' && target == ownerName);
    if (!matches) continue;
    defaultLanguage_ = 0;
    activeLanguage_ = 0;
    languages_ = 1;
    words_.Clear();
    for (int id = base + 1;; ++id) {
      // The table ends at an empty string after a whole group, or where the library ends.
      const std::optional<std::string> word = library->String(id, kLibraryMaxChars);
      if (!word || (word->empty() && words_.Count() % 2 == 0)) break;
      words_.Add(*word);
    }
    SetActiveLanguage(0);
    return;
  }
}

// ---- Properties ----

const platform::PropertyTable& TBaseMultiLang::ClassProperties() {
  static const platform::PropertyTable table = [] {
    platform::PropertyTable t(&platform::TComponent::ClassProperties());
    t.Property("About", &TBaseMultiLang::About, &TBaseMultiLang::SetAbout);
    ui::AddEventProperty(t, "BeforeLanguageChange", &TBaseMultiLang::BeforeLanguageChange,
                         &TBaseMultiLang::SetBeforeLanguageChange);
    ui::AddEventProperty(t, "AfterLanguageChanged", &TBaseMultiLang::AfterLanguageChanged,
                         &TBaseMultiLang::SetAfterLanguageChanged);
    ui::AddEventProperty(t, "IdNotFoundError", &TBaseMultiLang::IdNotFoundError, &TBaseMultiLang::SetIdNotFoundError);
    t.Property("DefaultLanguage", &TBaseMultiLang::DefaultLanguage, &TBaseMultiLang::SetDefaultLanguage)
        .Property("DefaultEnabled", &TBaseMultiLang::DefaultEnabled, &TBaseMultiLang::SetDefaultEnabled)
        .Property("Languages", &TBaseMultiLang::Languages, &TBaseMultiLang::SetLanguages)
        .Property("ActiveLanguage", &TBaseMultiLang::ActiveLanguage, &TBaseMultiLang::SetActiveLanguage)
        .Property("Words", static_cast<const platform::TStringList& (TBaseMultiLang::*)() const>(&TBaseMultiLang::Words),
                  &TBaseMultiLang::SetWords)
        .Property("DoNot", &TBaseMultiLang::DoNot, &TBaseMultiLang::SetDoNot)
        .Enumeration("SwitchPositions", &TBaseMultiLang::SwitchPositions, &TBaseMultiLang::SetSwitchPositions,
                     {{"spNone", spNone}, {"spControlsOnly", spControlsOnly}, {"spFormAndControls", spFormAndControls}})
        .Enumeration("TranslateEdits", &TBaseMultiLang::TranslateEdits, &TBaseMultiLang::SetTranslateEdits,
                     {{"teNever", teNever}, {"teReadOnly", teReadOnly}, {"teAlways", teAlways}})
        .Property("Positions", &TBaseMultiLang::Positions, &TBaseMultiLang::SetPositions)
        .Property("CharSets", &TBaseMultiLang::CharSets, &TBaseMultiLang::SetCharSets);
    return t;
  }();
  return table;
}
