// Reply codes, directory names, passive replies and the PORT argument, as tables of cases.
#include "ftp/QsFtpText.h"

#include <gtest/gtest.h>

namespace {

TEST(FtpText, ReplyCode) {
  const struct {
    const char* line;
    int code;
  } cases[] = {{"220 ready\r\n", 220}, {"550-multi\r\n", 550}, {"12\r\n", 0},        {"2x0 odd\r\n", 0},
               {" 220 indented", 0},  {"", 0},                 {"999", 999},         {"-20 minus", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ftptext::ReplyCode(c.line), c.code);
  }
}

TEST(FtpText, DirectoryName) {
  const struct {
    const char* text;
    const char* name;
  } cases[] = {{"257 \"/ORV_program\" is the current directory.\r\n", "/ORV_program"},
               {"257 \"/a b\" \"second\"\r\n", "/a b"},
               {"257 \"\" empty\r\n", ""},
               {"257 no quotes\r\n", ""},
               {"257 \"unterminated\r\n", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ftptext::DirectoryName(c.text), c.name);
  }
}

TEST(FtpText, PassiveReply) {
  const struct {
    const char* text;
    bool ok;
    const char* address;
    int port;
  } cases[] = {
      {"227 Entering Passive Mode (192,168,0,10,19,137).\r\n", true, "192.168.0.10", 5001},
      {"227 Entering passive mode (127,0,0,1,195,80).\r\n", true, "127.0.0.1", 195 * 256 + 80},
      {"227 =127,0,0,1,4,1", true, "227 =127.0.0.1", 1025},         // no parenthesis: the whole text
      {"227 (127,0,0,1,4,1", false, "", 0},                         // no closing parenthesis: nothing
      {"227 (127,0,0,1)", false, "", 0},                            // no port
      {"227 (127,0,0,1,x,7)", true, "127.0.0.1", 7},                // not a number counts as 0
      {"227 (127,0,0,1,300,300)", true, "127.0.0.1", (300 * 256 + 300) & 0xFFFF},
      {"227 (10,0,0,5,19)", true, "10.0.0.5", 19 * 256},
      // Numbers far past a byte: kept to 16 bits without overflowing on the way.
      {"227 (127,0,0,1,8388608,0)", true, "127.0.0.1", (8388608u * 256u) & 0xFFFF},
      {"227 (127,0,0,1,999999999,999999999)", true, "127.0.0.1", (999999999u * 256u + 999999999u) & 0xFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ftptext::TPassiveTarget target;
    ASSERT_EQ(ftptext::ParsePassiveReply(c.text, target), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(target.address, c.address);
    EXPECT_EQ(target.port, c.port);
  }
}

TEST(FtpText, PortArgument) {
  EXPECT_EQ(ftptext::PortArgument("10.0.0.5", 5001), "10,0,0,5,19,137");
  EXPECT_EQ(ftptext::PortArgument("127.0.0.1", 65535), "127,0,0,1,255,255");
  EXPECT_EQ(ftptext::PortArgument("127.0.0.1", 255), "127,0,0,1,0,255");
}

}  // namespace
