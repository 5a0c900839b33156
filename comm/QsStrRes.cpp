#include "comm/QsStrRes.h"

#include <cstring>
#include <memory>
#include <string_view>

#include "comm/QsExcept.h"

namespace {

constexpr char kReaderTableName[] = "QSSTRRES_STRINGS";
constexpr char kErrorTableName[] = "QS_ERROR_STRINGS_ENGLISH";
constexpr std::size_t kMaxResourceName = 255;
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kIndexEntrySize = 12;

enum ReaderTextId { kStringNotFound = 1, kCannotLock = 2, kResourceNotFound = 3, kUnableToOpen = 4, kInvalidTable = 5 };

// The reader's messages are needed even when its own table is the one that fails to open, so
// they are also kept here.
constexpr std::string_view kBuiltInReaderTexts[] = {
    "",
    "String not found: %d",
    "Cannot lock resource",
    "String resource not found: %s",
    "Unable to open string resource: %s",
    "Invalid string table resource",
};

// Set once the reader's own table is open; until then (and if it fails) the built-in texts serve.
std::atomic<const TQsStringResource*> publishedReaderTexts{nullptr};
// True on the thread that is opening the process-wide readers, whose failures must not reopen them.
thread_local bool openingTables = false;

std::string ReaderText(ReaderTextId id) {
  const TQsStringResource* reader = publishedReaderTexts.load(std::memory_order_acquire);
  if (reader == nullptr && !openingTables) {
    try {
      OpenMessageTables();
    } catch (const EQsStringResourceError&) {
      // The built-in texts tell this failure.
    }
    reader = publishedReaderTexts.load(std::memory_order_acquire);
  }
  std::string text = reader != nullptr ? reader->TextById(id) : std::string();
  return text.empty() ? std::string(kBuiltInReaderTexts[id]) : text;
}

// Replaces the first %d or %s of the text with argument.
std::string Format(std::string text, const std::string& argument) {
  for (std::size_t pos = text.find('%'); pos != std::string::npos && pos + 1 < text.size(); pos = text.find('%', pos + 1)) {
    if (text[pos + 1] == 'd' || text[pos + 1] == 's') return text.replace(pos, 2, argument);
  }
  return text;
}

[[noreturn]] void RaiseReaderError(ReaderTextId id, const std::string& argument = {}) {
  throw EQsStringResourceError(Format(ReaderText(id), argument));
}

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-16LE to UTF-8 (the system's code page on Linux). A surrogate without its partner becomes
// U+FFFD, so a damaged text never yields invalid UTF-8.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes) {
  const std::size_t units = bytes.size() / 2;
  auto unitAt = [&](std::size_t i) { return static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8); };
  std::string out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = unitAt(i);
    if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
      const char16_t low = unitAt(++i);
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00));
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

// A table is accepted only when every byte any lookup will read lies inside it and the index is
// sorted (the lookup is a binary search). Returns the entry count.
bool ValidateTable(std::span<const std::uint8_t> table, std::uint32_t& count) {
  if (table.size() < kHeaderSize || std::memcmp(table.data(), "STR0", 4) != 0) return false;
  count = ReadU32(table, 4);
  const std::uint64_t indexEnd = kHeaderSize + std::uint64_t{kIndexEntrySize} * count;
  if (indexEnd > table.size()) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = kHeaderSize + kIndexEntrySize * i;
    const std::uint64_t offset = ReadU32(table, entry + 4);
    const std::uint64_t bytes = 2 * std::uint64_t{ReadU32(table, entry + 8)};
    if (offset < indexEnd || offset + bytes > table.size()) return false;
    if (i > 0 && static_cast<std::int32_t>(ReadU32(table, entry)) <= static_cast<std::int32_t>(ReadU32(table, entry - kIndexEntrySize)))
      return false;
  }
  return true;
}

}  // namespace

TQsStringResource::TQsStringResource(platform::HMODULE module, const std::string& resourceName) {
  Open(module, resourceName);
}

TQsStringResource::~TQsStringResource() { Release(); }

void TQsStringResource::Release() {
  loaded_ = false;
  table_ = {};
  count_ = 0;
}

void TQsStringResource::Open(platform::HMODULE module, const std::string& resourceName) {
  Release();
  if (resourceName.empty()) return;
  const std::string name = resourceName.substr(0, kMaxResourceName);
  std::span<const std::uint8_t> bytes;
  platform::ResourceLookup lookup = platform::FindRawResource(module, name, bytes);
  if (lookup == platform::ResourceLookup::Missing && module != platform::kMainModule)
    lookup = platform::FindRawResource(platform::kMainModule, name, bytes);
  if (lookup == platform::ResourceLookup::Missing) RaiseReaderError(kResourceNotFound, name);
  if (lookup == platform::ResourceLookup::Unloadable) RaiseReaderError(kUnableToOpen, name);
  std::uint32_t count = 0;
  if (!ValidateTable(bytes, count)) RaiseReaderError(kInvalidTable);
  table_ = bytes;
  count_ = count;
  loaded_ = true;
}

std::span<const std::uint8_t> TQsStringResource::Map() const {
  if (!loaded_) RaiseReaderError(kCannotLock);
  return table_;
}

TQsStringResource::IndexEntry TQsStringResource::EntryAt(std::span<const std::uint8_t> table, std::uint32_t index) const {
  const std::size_t entry = kHeaderSize + kIndexEntrySize * std::size_t{index};
  if (index >= count_ || entry + kIndexEntrySize > table.size()) RaiseReaderError(kInvalidTable);
  return {static_cast<std::int32_t>(ReadU32(table, entry)), ReadU32(table, entry + 4), ReadU32(table, entry + 8)};
}

std::string TQsStringResource::TextById(std::int32_t id) const {
  // Each lookup works on its own view of the immutable table, so lookups never disturb each other.
  const std::span<const std::uint8_t> table = Map();
  std::int64_t low = 0;
  std::int64_t high = static_cast<std::int64_t>(count_) - 1;
  while (low <= high) {
    const std::int64_t middle = (low + high) / 2;
    const IndexEntry entry = EntryAt(table, static_cast<std::uint32_t>(middle));
    if (entry.id == id) {
      const std::uint64_t bytes = 2 * std::uint64_t{entry.length};
      if (std::uint64_t{entry.offset} + bytes > table.size()) RaiseReaderError(kInvalidTable);
      return Utf16LeToUtf8(table.subspan(entry.offset, static_cast<std::size_t>(bytes)));
    }
    if (entry.id < id)
      low = middle + 1;
    else
      high = middle - 1;
  }
  if (FailOnMissing()) RaiseReaderError(kStringNotFound, std::to_string(id));
  return {};
}

std::vector<std::int32_t> TQsStringResource::Ids() const {
  const std::span<const std::uint8_t> table = Map();
  std::vector<std::int32_t> ids;
  ids.reserve(count_);
  for (std::uint32_t i = 0; i < count_; ++i) ids.push_back(EntryAt(table, i).id);
  return ids;
}

namespace {

// The two process-wide readers, the reader's own texts first so that the error table's failures
// are told with them.
struct MessageTables {
  std::unique_ptr<TQsStringResource> readerTexts;
  std::unique_ptr<TQsStringResource> errorTexts;

  MessageTables() {
    openingTables = true;
    struct Reset {
      ~Reset() { openingTables = false; }
    } reset;
    readerTexts = std::make_unique<TQsStringResource>(platform::kMainModule, kReaderTableName);
    publishedReaderTexts.store(readerTexts.get(), std::memory_order_release);
    try {
      errorTexts = std::make_unique<TQsStringResource>(platform::kMainModule, kErrorTableName);
    } catch (...) {
      publishedReaderTexts.store(nullptr, std::memory_order_release);
      throw;
    }
  }
  ~MessageTables() { publishedReaderTexts.store(nullptr, std::memory_order_release); }
  MessageTables(const MessageTables&) = delete;
  MessageTables& operator=(const MessageTables&) = delete;
};

const MessageTables& Tables() {
  // Thread-safe one-time creation; a failed attempt is retried by the next call.
  static const MessageTables tables;
  return tables;
}

}  // namespace

const TQsStringResource& ResourceReaderTexts() { return *Tables().readerTexts; }

const TQsStringResource& ErrorTexts() { return *Tables().errorTexts; }

void OpenMessageTables() { Tables(); }
