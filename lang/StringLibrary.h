// The optional string library of the language component: on Linux a text file of numbered
// strings, in the format of the program's message table sources:
//   <id> "<text>"        one entry a line; id a decimal 32-bit number, unique in the file
// Texts are UTF-8 in double quotes with the escapes \" \\ \t \r \n; blank lines are ignored and
// '#' starts a comment at the beginning of a line or after the closing quote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class TStringLibrary {
 public:
  // Raises platform::Exception with the line and reason when the file cannot be read or parsed.
  static TStringLibrary Load(const std::filesystem::path& path);
  static TStringLibrary Parse(std::string_view text, const std::string& fileName);

  // The string of that id, cut to maxChars characters (UTF-8 sequences are kept whole), or
  // nothing when the library has no such string.
  std::optional<std::string> String(std::int32_t id, std::size_t maxChars = SIZE_MAX) const;

 private:
  std::map<std::int32_t, std::string> strings_;
};
