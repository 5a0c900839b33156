// strtable_gen OUT.cpp NAME=source.txt ...
//
// Turns each message table text source into a binary "STR0" table and writes OUT.cpp, which
// compiles the tables into the program as raw-data resources (platform::CompiledResources()).
//
// The source format is documented at the top of every source file in resources/: one
// `<id> "<text>"` entry a line, '#' comments, blank lines, escapes \" \\ \t \r \n, UTF-8 text.
//
// The table layout (all integers little-endian):
//   "STR0", N (u32), N index entries of {id (i32), byte offset from table start (u32),
//   length in UTF-16 units (u32)} sorted by id, then the UTF-16LE texts back to back in index order.
//
// Any error (bad syntax, bad escape, invalid UTF-8, duplicate id) is reported as file:line and makes
// the generator exit non-zero without writing the output, so a broken source fails the build.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Entry {
  std::int32_t id = 0;
  std::u16string text;
  int line = 0;
};

struct Table {
  std::string name;
  std::string path;
  std::vector<Entry> entries;
};

class ErrorSink {
 public:
  void Report(const std::string& path, int line, const std::string& message) {
    std::cerr << path << ':' << line << ": error: " << message << '\n';
    ++count_;
  }
  void Report(const std::string& message) {
    std::cerr << "strtable_gen: error: " << message << '\n';
    ++count_;
  }
  bool Any() const { return count_ > 0; }

 private:
  int count_ = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t SkipBlanks(std::string_view s, std::size_t pos) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  return pos;
}

// Decodes one UTF-8 sequence at s[pos]; advances pos. Rejects overlong forms, surrogates and
// values above U+10FFFF.
std::optional<char32_t> DecodeUtf8(std::string_view s, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  int extra = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    value = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (pos + static_cast<std::size_t>(extra) >= s.size()) return std::nullopt;
  for (int i = 1; i <= extra; ++i) {
    const auto c = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(i)]);
    if ((c & 0xC0) != 0x80) return std::nullopt;
    value = (value << 6) | (c & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (value < kMinimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
  pos += static_cast<std::size_t>(extra) + 1;
  return value;
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
    return;
  }
  c -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

std::optional<char16_t> Unescape(char c) {
  switch (c) {
    case '"': return u'"';
    case '\\': return u'\\';
    case 't': return u'\t';
    case 'r': return u'\r';
    case 'n': return u'\n';
    default: return std::nullopt;
  }
}

// Parses a decimal signed 32-bit id at s[pos]; advances pos.
std::optional<std::int32_t> ParseId(std::string_view s, std::size_t& pos) {
  bool negative = false;
  if (pos < s.size() && s[pos] == '-') {
    negative = true;
    ++pos;
  }
  const std::size_t digitsStart = pos;
  std::int64_t value = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
    value = value * 10 + (s[pos] - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    ++pos;
  }
  if (pos == digitsStart) return std::nullopt;
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max() || value < std::numeric_limits<std::int32_t>::min())
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// Parses the quoted text at s[pos] (pos at the opening quote); advances pos past the closing quote.
// On failure returns the reason.
std::optional<std::string> ParseText(std::string_view s, std::size_t& pos, std::u16string& text) {
  if (pos >= s.size() || s[pos] != '"') return "expected a text in double quotes after the id";
  ++pos;
  while (pos < s.size()) {
    const char c = s[pos];
    if (c == '"') {
      ++pos;
      return std::nullopt;
    }
    if (c == '\\') {
      if (pos + 1 >= s.size()) break;
      const std::optional<char16_t> unescaped = Unescape(s[pos + 1]);
      if (!unescaped) return std::string("unknown escape \\") + s[pos + 1];
      text.push_back(*unescaped);
      pos += 2;
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "raw control character in text (use an escape)";
    const std::optional<char32_t> decoded = DecodeUtf8(s, pos);
    if (!decoded) return "invalid UTF-8 in text";
    AppendUtf16(text, *decoded);
  }
  return "text has no closing quote";
}

// Parses one line; returns false (after reporting) on an error. A blank or comment line yields no entry.
bool ParseLine(std::string_view line, const std::string& path, int lineNumber, std::vector<Entry>& entries,
               ErrorSink& errors) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t pos = SkipBlanks(line, 0);
  if (pos == line.size() || line[pos] == '#') return true;

  Entry entry;
  entry.line = lineNumber;
  const std::optional<std::int32_t> id = ParseId(line, pos);
  if (!id) {
    errors.Report(path, lineNumber, "expected a signed 32-bit decimal id");
    return false;
  }
  entry.id = *id;
  if (pos >= line.size() || !IsBlank(line[pos])) {
    errors.Report(path, lineNumber, "expected a blank between the id and the text");
    return false;
  }
  pos = SkipBlanks(line, pos);
  if (const std::optional<std::string> failure = ParseText(line, pos, entry.text)) {
    errors.Report(path, lineNumber, *failure);
    return false;
  }
  pos = SkipBlanks(line, pos);
  if (pos < line.size() && line[pos] != '#') {
    errors.Report(path, lineNumber, "unexpected characters after the text");
    return false;
  }
  entries.push_back(std::move(entry));
  return true;
}

bool ReadSource(Table& table, ErrorSink& errors) {
  std::ifstream in(table.path, std::ios::binary);
  if (!in) {
    errors.Report("cannot read " + table.path);
    return false;
  }
  std::string line;
  int lineNumber = 0;
  bool ok = true;
  while (std::getline(in, line)) ok = ParseLine(line, table.path, ++lineNumber, table.entries, errors) && ok;
  return ok;
}

bool SortAndCheckUnique(Table& table, ErrorSink& errors) {
  std::stable_sort(table.entries.begin(), table.entries.end(),
                   [](const Entry& a, const Entry& b) { return a.id < b.id; });
  bool ok = true;
  for (std::size_t i = 1; i < table.entries.size(); ++i) {
    const Entry& previous = table.entries[i - 1];
    const Entry& current = table.entries[i];
    if (previous.id != current.id) continue;
    errors.Report(table.path, current.line,
                  "duplicate id " + std::to_string(current.id) + " (first at line " + std::to_string(previous.line) + ")");
    ok = false;
  }
  return ok;
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::optional<std::vector<std::uint8_t>> BuildTable(const Table& table, ErrorSink& errors) {
  std::uint64_t offset = 8 + 12 * static_cast<std::uint64_t>(table.entries.size());
  std::vector<std::uint8_t> out;
  out.insert(out.end(), {'S', 'T', 'R', '0'});
  PutU32(out, static_cast<std::uint32_t>(table.entries.size()));
  for (const Entry& e : table.entries) {
    if (offset > std::numeric_limits<std::uint32_t>::max()) {
      errors.Report(table.path, e.line, "table larger than 4 GiB");
      return std::nullopt;
    }
    PutU32(out, static_cast<std::uint32_t>(e.id));
    PutU32(out, static_cast<std::uint32_t>(offset));
    PutU32(out, static_cast<std::uint32_t>(e.text.size()));
    offset += 2 * static_cast<std::uint64_t>(e.text.size());
  }
  for (const Entry& e : table.entries) {
    for (char16_t unit : e.text) {
      out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
      out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
  }
  return out;
}

bool IsValidName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

std::string RenderCpp(const std::vector<Table>& tables, const std::vector<std::vector<std::uint8_t>>& bytes) {
  std::ostringstream out;
  out << "// Generated by strtable_gen from the message table sources. Do not edit.\n"
         "#include \"platform/CompiledResources.h\"\n\nnamespace platform {\nnamespace {\n\n";
  for (std::size_t t = 0; t < tables.size(); ++t) {
    out << "// " << tables[t].name << ": " << tables[t].entries.size() << " entries\n";
    out << "alignas(4) constexpr std::uint8_t kTable" << t << "[] = {";
    for (std::size_t i = 0; i < bytes[t].size(); ++i) {
      out << (i % 16 == 0 ? "\n   " : "") << ' ' << static_cast<unsigned>(bytes[t][i]) << ',';
    }
    out << "\n};\n\n";
  }
  if (!tables.empty()) {
    out << "constexpr CompiledResource kResources[] = {\n";
    for (std::size_t t = 0; t < tables.size(); ++t)
      out << "    {\"" << tables[t].name << "\", kTable" << t << ", sizeof kTable" << t << "},\n";
    out << "};\n\n";
  }
  out << "}  // namespace\n\nstd::span<const CompiledResource> CompiledResources() { return "
      << (tables.empty() ? "{}" : "kResources") << "; }\n\n}  // namespace platform\n";
  return out.str();
}

// Writes through a temporary file so that an interrupted run never leaves a half-written source.
bool WriteFile(const std::string& path, const std::string& content, ErrorSink& errors) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
      errors.Report("cannot write " + temporary);
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    errors.Report("cannot rename " + temporary + " to " + path);
    return false;
  }
  return true;
}

std::optional<Table> ParseArgument(std::string_view argument, ErrorSink& errors) {
  const std::size_t equals = argument.find('=');
  if (equals == std::string_view::npos || !IsValidName(argument.substr(0, equals)) || equals + 1 == argument.size()) {
    errors.Report("expected NAME=source.txt (NAME of letters, digits and '_'), got '" + std::string(argument) + "'");
    return std::nullopt;
  }
  Table table;
  table.name = std::string(argument.substr(0, equals));
  table.path = std::string(argument.substr(equals + 1));
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: strtable_gen OUT.cpp NAME=source.txt ...\n";
    return 2;
  }
  ErrorSink errors;
  std::vector<Table> tables;
  std::vector<std::vector<std::uint8_t>> bytes;
  for (int i = 2; i < argc; ++i) {
    std::optional<Table> table = ParseArgument(argv[i], errors);
    if (!table) continue;
    if (std::any_of(tables.begin(), tables.end(), [&](const Table& t) { return t.name == table->name; })) {
      errors.Report("table " + table->name + " given twice");
      continue;
    }
    if (!ReadSource(*table, errors) || !SortAndCheckUnique(*table, errors)) continue;
    std::optional<std::vector<std::uint8_t>> built = BuildTable(*table, errors);
    if (!built) continue;
    tables.push_back(std::move(*table));
    bytes.push_back(std::move(*built));
  }
  if (errors.Any()) return 1;
  return WriteFile(argv[1], RenderCpp(tables, bytes), errors) ? 0 : 1;
}
