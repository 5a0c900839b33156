// A server's listing of any bytes: every name the download accepts (a plain file name) is stored
// directly inside the download folder, never outside it or in a folder below it.
#include <filesystem>
#include <string>

#include "app/ListingNames.h"
#include "app/LocalNames.h"
#include "fuzz/FuzzInput.h"
#include "platform/StringList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view listing(reinterpret_cast<const char*>(data), size);
  platform::TStringList names;
  ListingToNames(listing, names);
  const std::filesystem::path folder = "/download/folder";
  for (int i = 0; i < names.Count(); ++i) {
    const std::string& name = names[i];
    FUZZ_CHECK(name.size() <= kMaxListingLineLength);
    if (!IsPlainFileName(name)) continue;
    const std::string local = LocalNameFor(name, "setup.exe");
    FUZZ_CHECK(!local.empty() && local != "." && local != "..");
    FUZZ_CHECK(local.find('/') == std::string::npos && local.find('\0') == std::string::npos);
    const std::filesystem::path stored = (folder / local).lexically_normal();
    FUZZ_CHECK(stored.parent_path() == folder);
  }
  return 0;
}
