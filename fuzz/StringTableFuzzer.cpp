// The "STR0" table reader on any resource bytes: it opens the table or raises its own error type,
// and every text it gives out is valid UTF-8.
#include <string>
#include <vector>

#include "comm/QsExcept.h"
#include "comm/QsStrRes.h"
#include "fuzz/FuzzInput.h"
#include "platform/Resources.h"

namespace {

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n;
    std::uint32_t code;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1, code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, code = c & 0x07u;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      code = code << 6 | (b & 0x3Fu);
    }
    if (n == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) return false;
    if (n == 3 && (code < 0x10000 || code > 0x10FFFF)) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  constexpr platform::HMODULE kModule = 4242;
  platform::RegisterRawResource(kModule, "FUZZTABLE", bytes);
  try {
    TQsStringResource table(kModule, "FUZZTABLE");
    for (std::int32_t id : table.Ids()) {
      try {
        FUZZ_CHECK(ValidUtf8(table.TextById(id)));
      } catch (const EQsStringResourceError&) {
      }
    }
    for (std::int32_t id : {0, 1, -1, 5506, 65535}) {
      try {
        FUZZ_CHECK(ValidUtf8(table.TextById(id)));
      } catch (const EQsStringResourceError&) {
      }
    }
  } catch (const EQsStringResourceError&) {
  }
  platform::UnregisterRawResource(kModule, "FUZZTABLE");
  return 0;
}
