// The form reader on any text: it builds a window or refuses the file with EFormError naming the
// file, and nothing else ever comes out of it.
#include <string>

#include "fuzz/FuzzInput.h"
#include "ui/FormReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    auto window = ui::CreateForm(text, "fuzz.form");
    FUZZ_CHECK(window != nullptr);
  } catch (const ui::EFormError& e) {
    FUZZ_CHECK(e.FileName() == "fuzz.form");
    FUZZ_CHECK(e.Line() >= 1);
  }
  return 0;
}
