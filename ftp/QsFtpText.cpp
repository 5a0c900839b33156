// Reply and command texts of the FTP client.
#include "ftp/QsFtpText.h"

#include <algorithm>
#include <cctype>

namespace ftptext {

namespace {

// Leading decimal digits as a number (0 when there are none), as the runtime's lenient conversion.
int DecimalOrZero(const std::string& text) {
  if (text.empty() || text.size() > 9) return 0;
  int value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

int ReplyCode(const std::string& line) {
  if (line.size() < 3) return 0;
  return DecimalOrZero(line.substr(0, 3));
}

std::string DirectoryName(const std::string& replyText) {
  const std::size_t first = replyText.find('"');
  if (first == std::string::npos) return {};
  const std::size_t second = replyText.find('"', first + 1);
  if (second == std::string::npos) return {};
  return replyText.substr(first + 1, second - first - 1);
}

bool ParsePassiveReply(const std::string& replyText, TPassiveTarget& target) {
  std::string inner;
  const std::size_t open = replyText.find('(');
  if (open == std::string::npos) {
    inner = replyText;
  } else {
    const std::size_t close = replyText.find(')', open + 1);
    if (close != std::string::npos) inner = replyText.substr(open + 1, close - open - 1);
  }
  std::size_t from = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t comma = inner.find(',', from);
    if (comma == std::string::npos) break;
    inner[comma] = '.';
    from = comma + 1;
  }
  const std::size_t portComma = inner.find(',');
  if (portComma == std::string::npos) return false;
  const std::size_t lowComma = inner.find(',', portComma + 1);
  const std::string high = inner.substr(portComma + 1, lowComma == std::string::npos ? std::string::npos
                                                                                       : lowComma - portComma - 1);
  const std::string low = lowComma == std::string::npos ? std::string() : inner.substr(lowComma + 1);
  target.address = inner.substr(0, portComma);
  // Unsigned arithmetic: a server's numbers may be up to nine digits; only the low 16 bits count.
  const auto highPart = static_cast<std::uint32_t>(DecimalOrZero(high));
  const auto lowPart = static_cast<std::uint32_t>(DecimalOrZero(low));
  target.port = static_cast<std::uint16_t>((highPart * 256u + lowPart) & 0xFFFFu);
  return true;
}

std::string PortArgument(const std::string& dottedAddress, std::uint16_t port) {
  std::string text = dottedAddress;
  std::replace(text.begin(), text.end(), '.', ',');
  return text + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

}  // namespace ftptext
