// The "STR0" table reader on any resource bytes: it opens the table or raises its own error type,
// and every text it gives out is valid UTF-8.
#include <string>
#include <vector>

#include "comm/QsExcept.h"
#include "comm/QsStrRes.h"
#include "fuzz/FuzzInput.h"
#include "platform/Resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  constexpr platform::HMODULE kModule = 4242;
  platform::RegisterRawResource(kModule, "FUZZTABLE", bytes);
  try {
    TQsStringResource table(kModule, "FUZZTABLE");
    for (std::int32_t id : table.Ids()) {
      try {
        FUZZ_CHECK(fuzz::ValidUtf8(table.TextById(id)));
      } catch (const EQsStringResourceError&) {
      }
    }
    for (std::int32_t id : {0, 1, -1, 5506, 65535}) {
      try {
        FUZZ_CHECK(fuzz::ValidUtf8(table.TextById(id)));
      } catch (const EQsStringResourceError&) {
      }
    }
  } catch (const EQsStringResourceError&) {
  }
  platform::UnregisterRawResource(kModule, "FUZZTABLE");
  return 0;
}
