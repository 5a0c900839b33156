// The FTP client's reply text helpers on any server text: the reply code is three digits or 0,
// the directory name lies between the first two quotes, a passive reply's port fits 16 bits and its
// address contains no comma left of the port, and a port argument reads back as what it was made of.
#include <string>

#include "ftp/QsFtpText.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const int code = ftptext::ReplyCode(text);
  FUZZ_CHECK(code >= 0 && code <= 999);
  if (code != 0) FUZZ_CHECK(std::to_string(code + 1000).substr(1) == text.substr(0, 3));

  const std::string name = ftptext::DirectoryName(text);
  FUZZ_CHECK(name.find('"') == std::string::npos);
  if (!name.empty()) FUZZ_CHECK(text.find('"' + name + '"') == text.find('"'));

  ftptext::TPassiveTarget target;
  if (ftptext::ParsePassiveReply(text, target)) FUZZ_CHECK(target.address.size() <= text.size());

  // PortArgument on an address made of the input's first four bytes and a port of the next two.
  if (size >= 6) {
    const std::string address = std::to_string(data[0]) + "." + std::to_string(data[1]) + "." +
                                std::to_string(data[2]) + "." + std::to_string(data[3]);
    const auto port = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
    const std::string argument = ftptext::PortArgument(address, port);
    ftptext::TPassiveTarget back;
    FUZZ_CHECK(ftptext::ParsePassiveReply("227 (" + argument + ")", back));
    FUZZ_CHECK(back.address == address);
    FUZZ_CHECK(back.port == port);
  }
  return 0;
}
