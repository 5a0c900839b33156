// The program, headless, against a server that fails at one step of the run in one way
// (tests/app/fault-server.py): every step of a run (greeting, USER, PASS, PWD, TYPE, PASV, CWD,
// both listings, the first, middle and last retrieval) times every fault that fits it. Each row
// keeps the same invariants: the program ends within a bound and by the exit rules; every file
// it says it received is on disk byte for byte as served; a failed file gives exactly one box,
// with the server's code and text where the server gave one; no success reply is shown as an
// error. The rows of one step run side by side, each with its own server and folders.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>

#include "tests/app/DownloaderProcess.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TlsTestPki.h"

namespace {

namespace fs = std::filesystem;
using e2e::ProgramResult;

// The product's files as served, in listing order: the first, a middle and the last retrieval.
const std::vector<std::pair<std::string, std::string>> kFiles = {
    {"SetupORV.exe", ftpserver::PatternBytes(20000, 11)},
    {"a.dat", ftpserver::PatternBytes(70000, 12)},
    {"b.bin", ftpserver::PatternBytes(300000, 13)},
};

// The fault server on a port of its own, for one row; over TLS when given a certificate.
testsupport::ScriptServer StartFaultServer(const std::string& root, const std::string& step, const std::string& fault,
                                           const std::string& cert = "", const std::string& key = "") {
  std::vector<std::string> args = {"/usr/bin/python3", QS_TEST_SOURCE_DIR "/fault-server.py", "--root", root, "--step",
                                   step, "--fault", fault};
  if (!cert.empty()) args.insert(args.end(), {"--tls-cert", cert, "--tls-key", key});
  return testsupport::ScriptServer(args);
}

// What a step's failure takes with it.
struct StepCase {
  const char* step;
  int failedFile;         // index into kFiles of the file this step fetches, or -1
  bool beforeNames;       // the product's names are not known yet: nothing can be fetched
  const char* errorCode;  // the code of the step's 4xx/5xx reply
  const char* errorText;
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.step; }

const char* const kControlFaults[] = {"drop", "421", "error"};
const char* const kDataFaults[] = {"reset-before", "reset-after", "close-426", "close-451", "stall", "listener-closed"};

// The one box a fault must give, as the start of its line; "" for none, "?" when a box may or may
// not come (a reset after the success reply may cost the data or not).
std::string ExpectedBox(const StepCase& c, const std::string& fault) {
  if (fault == "drop" || fault == "421") return "";
  if (fault == "error") return std::string("box: FTP Error: ") + c.errorCode + " | " + c.errorCode + " " + c.errorText;
  if (fault == "reset-before") return "box: FTP Error: 426 | 426 Connection reset; transfer aborted (fault).";
  if (fault == "close-426") return "box: FTP Error: 426 | 426 Connection closed; transfer aborted (fault).";
  if (fault == "close-451") return "box: FTP Error: 451 | 451 Local error in processing (fault).";
  if (fault == "listener-closed") return "box: FTP Error: 550 | 550 No such file (fault).";
  if (fault == "stall") return "Transfer timed out";
  return "?";
}

bool IsFailureBox(const std::string& line) {
  return line.rfind("box: FTP Error: ", 0) == 0 || line.find("| Transfer timed out") != std::string::npos ||
         line.rfind("box: Download failed", 0) == 0;
}

struct RowResult {
  std::string fault;
  bool tls = false;
  ProgramResult run;
  std::map<std::string, std::string> onDisk;  // name -> bytes, for every file in the download folder
};

RowResult RunRow(const StepCase& c, const std::string& fault, bool tls) {
  RowResult row;
  row.fault = fault;
  row.tls = tls;
  const std::string root = ftpserver::MakeTempDir("qs-fault-root-");
  const std::string driveC = ftpserver::MakeTempDir("qs-fault-c-");
  for (const auto& [name, bytes] : kFiles) ftpserver::WriteFile(root + "/ORV_program/" + name, bytes);
  std::string cert, key, ca;
  if (tls) {
    const testtls::TAuthority authority("quillstage test authority");
    const testtls::TIdentity identity = authority.Issue("IP:127.0.0.1", -1, 30);
    cert = testtls::WriteFile(driveC + "/server.pem", identity.certificatePem);
    key = testtls::WriteFile(driveC + "/server.key", identity.keyPem);
    ca = testtls::WriteFile(driveC + "/ca.pem", authority.CertificatePem());
  }
  {
    testsupport::ScriptServer server = StartFaultServer(root, c.step, fault, cert, key);
    if (server.Port() == 0) {
      row.run.err = "the fault server did not start";
    } else {
      std::map<std::string, std::string> env = {
          {"QUILLSTAGE_FTP_SERVER", (tls ? "ftps://127.0.0.1:" : "127.0.0.1:") + std::to_string(server.Port())},
          {"QUILLSTAGE_DRIVE_C", driveC},
          {"QUILLSTAGE_TRANSFER_SECONDS", "2"},
          {"QUILLSTAGE_STALL_SECONDS", "30"}};
      if (tls) env["QUILLSTAGE_FTP_CA"] = ca;
      row.run = e2e::RunDownloader({"ORV", "E"}, env, 60);
    }
  }
  for (const auto& [name, bytes] : kFiles) {
    const std::string path = driveC + "/Quillstage/" + name;
    if (fs::exists(path)) row.onDisk[name] = ftpserver::ReadFile(path);
  }
  ftpserver::RemoveTree(root);
  ftpserver::RemoveTree(driveC);
  return row;
}

void CheckRow(const StepCase& c, const RowResult& row) {
  const ProgramResult& r = row.run;
  SCOPED_TRACE(std::string(c.step) + " × " + row.fault + "\n" + r.out + r.err);
  ASSERT_NE(r.err, "the fault server did not start");
  // Ends by itself, within the bound, never by the stall limit.
  EXPECT_FALSE(r.timedOut);
  EXPECT_LT(r.seconds, 45.0);

  // Every file said to be received is on disk exactly as served.
  int received = 0;
  for (const auto& [name, bytes] : kFiles) {
    if (!r.Has("received: " + name)) continue;
    ++received;
    const auto it = row.onDisk.find(name);
    ASSERT_NE(it, row.onDisk.end()) << name;
    EXPECT_TRUE(it->second == bytes) << name << " has " << it->second.size() << " bytes of " << bytes.size();
  }
  EXPECT_EQ(r.Count("received: "), received);  // nothing else is said to be received

  // Which files must and must not arrive. A reset after a listing's success reply may cost the
  // listing or not; either way the checks above and below hold.
  const bool listingMayPass = row.fault == "reset-after" && c.failedFile < 0;
  const bool connectionLost = row.fault == "drop" || row.fault == "421";
  for (int i = 0; i < static_cast<int>(kFiles.size()); ++i) {
    const std::string line = "received: " + kFiles[static_cast<std::size_t>(i)].first;
    bool expected = !c.beforeNames;
    if (c.failedFile >= 0 && i == c.failedFile) expected = false;
    if (c.failedFile >= 0 && i > c.failedFile && (connectionLost || row.fault == "stall")) expected = false;
    if ((c.failedFile == i && row.fault == "reset-after") || listingMayPass) continue;  // either way
    EXPECT_EQ(r.Has(line), expected) << line;
  }

  // Boxes: the failure's one box, and no success reply shown as an error.
  int failureBoxes = 0;
  for (const std::string& line : r.lines) {
    if (!IsFailureBox(line)) continue;
    ++failureBoxes;
    const std::string prefix = "box: FTP Error: ";
    if (line.rfind(prefix, 0) == 0) {
      const int code = std::atoi(line.c_str() + prefix.size());
      EXPECT_FALSE(code >= 100 && code < 400) << "a reply that is no error shown as one: " << line;
    }
  }
  std::string box = ExpectedBox(c, row.fault);
  // Over TLS a data connection that is reset or closed without TLS's closing message is cut:
  // that is the one failure, whatever the server replies after it.
  const bool cutByFault = row.fault == "reset-before" || row.fault == "reset-after" || row.fault == "close-426" ||
                          row.fault == "close-451";
  if (row.tls && cutByFault) {
    EXPECT_EQ(failureBoxes, 1);
  } else if (box.empty()) {
    EXPECT_EQ(failureBoxes, 0);
  } else if (box == "?") {
    EXPECT_LE(failureBoxes, 1);
    if (failureBoxes == 1) {
      EXPECT_EQ(r.Count("box: FTP Error: 10054 | The virtual circuit has been reset"), 1);
    }
  } else {
    EXPECT_EQ(failureBoxes, 1);
    int matching = 0;
    for (const std::string& line : r.lines) matching += line.find(box) != std::string::npos ? 1 : 0;
    EXPECT_EQ(matching, 1) << box;
  }

  // The exit code: 0 only when every file arrived and nothing failed.
  const bool allReceived = received == static_cast<int>(kFiles.size()) && failureBoxes == 0;
  EXPECT_EQ(r.exitCode, allReceived ? 0 : 1);
}

class FaultMatrix : public ::testing::TestWithParam<StepCase> {};

TEST_P(FaultMatrix, EveryFaultKeepsTheInvariants) {
  const StepCase& c = GetParam();
  std::vector<std::string> faults(std::begin(kControlFaults), std::end(kControlFaults));
  const bool transfer = std::string(c.step).rfind("NLST", 0) == 0 || std::string(c.step).rfind("RETR", 0) == 0;
  if (transfer) faults.insert(faults.end(), std::begin(kDataFaults), std::end(kDataFaults));
  std::vector<std::future<RowResult>> rows;
  for (const std::string& fault : faults) rows.push_back(std::async(std::launch::async, RunRow, c, fault, false));
  for (auto& row : rows) CheckRow(c, row.get());
}

// A few steps again with the server and the program speaking TLS.
class FaultMatrixTls : public ::testing::TestWithParam<StepCase> {};

TEST_P(FaultMatrixTls, EveryFaultKeepsTheInvariants) {
  const StepCase& c = GetParam();
  std::vector<std::string> faults(std::begin(kControlFaults), std::end(kControlFaults));
  const bool transfer = std::string(c.step).rfind("NLST", 0) == 0 || std::string(c.step).rfind("RETR", 0) == 0;
  if (transfer) faults.insert(faults.end(), std::begin(kDataFaults), std::end(kDataFaults));
  std::vector<std::future<RowResult>> rows;
  for (const std::string& fault : faults) rows.push_back(std::async(std::launch::async, RunRow, c, fault, true));
  for (auto& row : rows) CheckRow(c, row.get());
}

INSTANTIATE_TEST_SUITE_P(Steps, FaultMatrixTls,
                         ::testing::Values(StepCase{"PASS", -1, true, "530", "Login incorrect (fault)."},
                                           StepCase{"NLST2", -1, true, "550", "Listing refused (fault)."},
                                           StepCase{"RETR2", 1, false, "550", "File refused (fault)."}),
                         [](const ::testing::TestParamInfo<StepCase>& info) { return std::string(info.param.step); });

INSTANTIATE_TEST_SUITE_P(
    Steps, FaultMatrix,
    ::testing::Values(StepCase{"greeting", -1, true, "554", "No service for you (fault)."},
                      StepCase{"USER", -1, true, "530", "User refused (fault)."},
                      StepCase{"PASS", -1, true, "530", "Login incorrect (fault)."},
                      StepCase{"PWD", -1, true, "550", "PWD refused (fault)."},
                      StepCase{"TYPE", -1, true, "504", "Type refused (fault)."},
                      StepCase{"PASV", -1, true, "425", "No passive mode (fault)."},
                      StepCase{"NLST1", -1, true, "550", "Listing refused (fault)."},
                      StepCase{"CWD", -1, true, "550", "No such folder (fault)."},
                      StepCase{"NLST2", -1, true, "550", "Listing refused (fault)."},
                      StepCase{"RETR1", 0, false, "550", "File refused (fault)."},
                      StepCase{"RETR2", 1, false, "550", "File refused (fault)."},
                      StepCase{"RETR3", 2, false, "550", "File refused (fault)."}),
    [](const ::testing::TestParamInfo<StepCase>& info) { return std::string(info.param.step); });

}  // namespace
