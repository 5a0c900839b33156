// A server's listing of any bytes: every name the download accepts (a plain file name) is stored
// directly inside the download folder, never outside it or in a folder below it.
#include <string>

#include "app/ListingNames.h"
#include "app/LocalNames.h"
#include "fuzz/FuzzInput.h"
#include "platform/StringList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view listing(reinterpret_cast<const char*>(data), size);
  platform::TStringList names;
  ListingToNames(listing, names);
  for (int i = 0; i < names.Count(); ++i) {
    const std::string& name = names[i];
    FUZZ_CHECK(name.size() <= kMaxListingLineLength);
    if (!IsPlainFileName(name)) continue;
    const std::string local = LocalNameFor(name, "setup.exe");
    // One path component, neither "." nor "..": joined to the folder it names a file directly in
    // it. (Checked on the string: a std::filesystem round trip per name took a third of the time.)
    FUZZ_CHECK(!local.empty() && local != "." && local != "..");
    FUZZ_CHECK(local.find('/') == std::string::npos && local.find('\0') == std::string::npos);
  }
  return 0;
}
