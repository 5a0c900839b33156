// The reader of "STR0" string tables (raw-data resources holding the engine's message texts) and
// the two process-wide readers: the reader's own messages and the engine's error and log texts.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Resources.h"

class TQsStringResource {
 public:
  // Opens the table of that name in module, else in the program's main module. An empty name gives
  // an empty reader. Raises EQsStringResourceError when the table is missing, cannot be loaded or
  // is malformed.
  TQsStringResource(platform::HMODULE module, const std::string& resourceName);
  ~TQsStringResource();
  TQsStringResource(const TQsStringResource&) = delete;
  TQsStringResource& operator=(const TQsStringResource&) = delete;

  // The text of id, UTF-8; empty when the id is absent, unless FailOnMissing. Safe to call from
  // several threads at once. Raises EQsStringResourceError on an empty reader.
  std::string TextById(std::int32_t id) const;

  bool FailOnMissing() const { return failOnMissing_.load(std::memory_order_relaxed); }
  void SetFailOnMissing(bool value) { failOnMissing_.store(value, std::memory_order_relaxed); }

  // The ids in the table, ascending (for checks and tools).
  std::vector<std::int32_t> Ids() const;

 private:
  struct IndexEntry {
    std::int32_t id;
    std::uint32_t offset;
    std::uint32_t length;
  };

  void Open(platform::HMODULE module, const std::string& resourceName);
  void Release();
  // The mapped bytes, or EQsStringResourceError "Cannot lock resource" when nothing is loaded.
  std::span<const std::uint8_t> Map() const;
  IndexEntry EntryAt(std::span<const std::uint8_t> table, std::uint32_t index) const;

  std::atomic<bool> failOnMissing_{false};
  bool loaded_ = false;
  std::span<const std::uint8_t> table_;  // the whole table, validated at open
  std::uint32_t count_ = 0;
};

// The reader over "QSSTRRES_STRINGS": the reader's own messages.
const TQsStringResource& ResourceReaderTexts();
// The reader over "QS_ERROR_STRINGS_ENGLISH": the engine's error and log texts.
const TQsStringResource& ErrorTexts();
// Opens both process-wide readers now (the reader's texts first) so that a broken table ends
// start-up with its message; the accessors open them on first use otherwise.
void OpenMessageTables();
