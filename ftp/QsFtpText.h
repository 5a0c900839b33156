// The FTP client's text work on replies and commands, free of any connection: the reply code of a
// line, the directory name of a 257 reply, the address of a 227 reply, the argument of "PORT ".
#pragma once

#include <cstdint>
#include <string>

namespace ftptext {

// The first three characters as a decimal number; 0 when they are not three digits.
int ReplyCode(const std::string& line);

// The text between the first and the second double quote; empty without two quotes.
std::string DirectoryName(const std::string& replyText);

// A passive reply's address and port: the part in parentheses, its first three commas read as
// dots, then address, high and low port number. A number that is not one counts as 0; the port is
// kept to 16 bits. False when no comma is left for the port (nothing to connect to).
struct TPassiveTarget {
  std::string address;
  std::uint16_t port = 0;
};
bool ParsePassiveReply(const std::string& replyText, TPassiveTarget& target);

// "h1,h2,h3,h4,p1,p2" for a dotted address and a port (host order).
std::string PortArgument(const std::string& dottedAddress, std::uint16_t port);

}  // namespace ftptext
