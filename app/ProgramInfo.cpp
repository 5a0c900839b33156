#include "app/ProgramInfo.h"

#ifndef QS_VERSION
#error "QS_VERSION is set by the build"
#endif

namespace {

constexpr const char* kUsage = R"(Usage: setup-downloader [PRODUCT [C]]
       setup-downloader --help | -h | --version

Fetches the installation files of PRODUCT (default ORV) from its FTP server into a local folder
and offers to start the product's setup program (SetupPRODUCT.exe).

Parameters:
  PRODUCT   the product's code; the server's folder PRODUCT_program is fetched
  C         exactly "C" shows the window in Traditional Chinese, anything else in English
            With fewer than two parameters the defaults hold: product ORV, Chinese.

Environment:
  QUILLSTAGE_FTP_SERVER     host or host:port of the FTP server, instead of the built-in one;
                            ftps://host[:port] requires TLS (AUTH TLS on the FTP port)
  QUILLSTAGE_FTP_CA         TLS: a file of trusted certificates instead of the system's store
  QUILLSTAGE_FTP_FINGERPRINT  TLS: the SHA-256 fingerprint of the server's own certificate
  QUILLSTAGE_DRIVE_C        the folder that stands for drive C (default: your home folder)
  QUILLSTAGE_UI             qt or headless (default: the window when a display is available)
  QUILLSTAGE_ANSWER         headless: the answer to the end-of-run question: yes, no (default), cancel
  QUILLSTAGE_STALL_SECONDS  headless: give up after this many seconds without progress (default 120)
  QUILLSTAGE_RESOURCES      the folder of the form files and pictures
  QUILLSTAGE_SERIAL_DIR     a folder of COMn links to tty devices, instead of /dev/ttyS(n-1)

Files:
  The files go to $QUILLSTAGE_DRIVE_C/Quillstage (default ~/Quillstage), or to the program's own
  folder when that cannot be made. A setup file there older than 30 days is deleted at start-up.

Exit codes (headless; the window ends with 0):
  0  every listed file was received (also for an empty listing), or Install started the setup
  1  a file failed, or the connection ended or could not be made before the run ended
  2  the run could not start (for example the server's name cannot be resolved)
  3  nothing moved for QUILLSTAGE_STALL_SECONDS seconds
)";

}  // namespace

std::string UsageText() { return kUsage; }

std::string VersionText() { return std::string("setup-downloader ") + QS_VERSION + "\n"; }

std::optional<std::string> ProgramInfoRequest(const std::vector<std::string>& params) {
  if (params.size() != 1) return std::nullopt;
  if (params[0] == "--help" || params[0] == "-h") return UsageText();
  if (params[0] == "--version") return VersionText();
  return std::nullopt;
}
