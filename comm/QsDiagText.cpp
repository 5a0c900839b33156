#include "comm/QsDiagText.h"

#include <cerrno>
#include <cstdio>

std::string RenderDataByte(std::uint8_t b, bool hexMode, bool allHex) {
  const int low = hexMode ? 33 : 32;
  char text[8];
  if (allHex || ((b < low || b > 126) && hexMode)) {
    std::snprintf(text, sizeof text, "[%02X]", b);
  } else if (b < low || b > 126) {
    std::snprintf(text, sizeof text, "[%u]", static_cast<unsigned>(b));
  } else {
    return std::string(1, static_cast<char>(b));
  }
  return text;
}

std::string LogTimeText(std::uint32_t milliseconds) {
  // Seven digits at least: four of seconds, three of milliseconds.
  char text[24];
  std::snprintf(text, sizeof text, "%04u.%03u", static_cast<unsigned>(milliseconds / 1000),
                static_cast<unsigned>(milliseconds % 1000));
  return text;
}

std::string CompilerDescription() {
#if defined(__clang__)
  return std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
  return std::string("GNU C++ ") + __VERSION__;
#else
  return "C++ compiler";
#endif
}

TDiagTextFile::~TDiagTextFile() {
  if (file_) std::fclose(file_);
}

int TDiagTextFile::Open(const std::string& fileName, bool append) {
  errno = 0;
  file_ = std::fopen(fileName.c_str(), append ? "ab" : "wb");
  if (!file_) return -(errno != 0 ? errno : EIO);
  error_ = 0;
  return 0;
}

void TDiagTextFile::Write(const std::string& text) {
  if (!file_ || error_ != 0 || text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) error_ = errno != 0 ? errno : EIO;
}

int TDiagTextFile::Close() {
  if (!file_) return error_ != 0 ? -error_ : 0;
  if (std::fflush(file_) != 0 && error_ == 0) error_ = errno != 0 ? errno : EIO;
  if (std::fclose(file_) != 0 && error_ == 0) error_ = errno != 0 ? errno : EIO;
  file_ = nullptr;
  return error_ != 0 ? -error_ : 0;
}
