// The program asked for --help, -h or --version: it prints, ends with 0 and never connects, even
// with a server waiting (a loopback listener stands for the FTP server).
#include <gtest/gtest.h>

#include <string>

#include "tests/app/DownloaderProcess.h"
#include "tests/support/LoopbackPeer.h"

namespace {

struct ProcessCase {
  const char* option;
  const char* firstLine;
};

class ProgramInfoProcess : public testing::TestWithParam<ProcessCase> {};

TEST_P(ProgramInfoProcess, PrintsAndEndsWithoutConnecting) {
  std::uint16_t port = 0;
  const int listener = peer::Listen(port);
  ASSERT_GE(listener, 0);
  const e2e::ProgramResult r =
      e2e::RunDownloader({GetParam().option}, {{"QUILLSTAGE_FTP_SERVER", "127.0.0.1:" + std::to_string(port)}}, 30);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_FALSE(r.lines.empty());
  EXPECT_EQ(r.lines.front().rfind(GetParam().firstLine, 0), 0u) << r.lines.front();
  EXPECT_EQ(r.err, "");
  const int connection = peer::Accept(listener, 200);
  EXPECT_LT(connection, 0) << "the program connected";
  if (connection >= 0) peer::Close(connection);
  peer::Close(listener);
}

INSTANTIATE_TEST_SUITE_P(Options, ProgramInfoProcess,
                         testing::Values(ProcessCase{"--help", "Usage: setup-downloader"},
                                         ProcessCase{"-h", "Usage: setup-downloader"},
                                         ProcessCase{"--version", "setup-downloader "}));

}  // namespace
