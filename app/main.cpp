// setup-downloader [PRODUCT] [C] (or --help, --version): downloads a product's installation files and offers to start
// its setup program. In a Qt window when a display is available, headless otherwise (or as
// QUILLSTAGE_UI says); the headless program presses Download itself and ends with an exit code
// that says how the run went (app/HeadlessRun.h).
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/FrontEndChoice.h"
#include "app/HeadlessRun.h"
#include "app/ProgramInfo.h"
#include "app/StartupRules.h"
#include "app/uGetUpdateFile.h"
#include "platform/Application.h"
#include "ui/Prompter.h"
#include "ui/headless/HeadlessFrontEnd.h"

#ifdef QS_WITH_QT
#include <QApplication>

#include "app/QtMainWindow.h"
#include "ui/qt/ChineseFontCheck.h"
#include "ui/qt/QtFrontEnd.h"
#endif

namespace {

constexpr const char* kApplicationTitle = "ORV Data Downloader Setup";
constexpr bool kQtBuilt =
#ifdef QS_WITH_QT
    true;
#else
    false;
#endif

// Runs the window in front until the program ends, freeing it the way a closed window is freed.
int RunWindow(ui::TFrontEnd& front, TGetUpdateFile& window) {
  const int exitCode = front.Run();
  window.DoDestroy();
  return exitCode;
}

int RunHeadless(const std::vector<std::string>& params) {
  headless::HeadlessFrontEnd front;
  THeadlessRun run(front, StallSeconds(std::getenv("QUILLSTAGE_STALL_SECONDS")), std::cerr);
  std::unique_ptr<TGetUpdateFile> window = TGetUpdateFile::Create(params, &run);
  front.SetListingMemo(&window->InfoMemo());
  front.SetReceivedMemo(&window->Memo1());
  front.Present(*window);
  run.Start([&window] { return window->WillMove(); });
  // Unattended: the download starts at once, as if Download had been pressed.
  platform::GuardHandler([&window] { window->btnFileDownloadClick(window.get()); });
  return RunWindow(front, *window);
}

#ifdef QS_WITH_QT
int RunQt(int argc, char** argv, const std::vector<std::string>& params) {
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(kApplicationTitle);
  qtfront::WarnWithoutChineseFont();
  qtfront::QtFrontEnd front;
  TQtMainWindow main(front, params);
  return RunWindow(front, main.Window());
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> params(argv + 1, argv + argc);
  if (const auto info = ProgramInfoRequest(params)) {
    std::cout << *info << std::flush;
    return std::cout ? 0 : 1;
  }
  ui::SetApplicationTitle(kApplicationTitle);
  if (const std::string problem = ProductCodeProblem(ReadCommandLine(params).productCode); !problem.empty()) {
    std::cerr << "setup-downloader: " << problem << std::endl;
    return kExitNotStarted;
  }
  try {
    const TFrontEndKind kind =
        ChooseFrontEnd(std::getenv("QUILLSTAGE_UI"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), kQtBuilt);
#ifdef QS_WITH_QT
    if (kind == TFrontEndKind::Qt) return RunQt(argc, argv, params);
#endif
    return RunHeadless(params);
  } catch (const std::exception& e) {
    std::cerr << "setup-downloader: " << e.what() << std::endl;
    return kExitNotStarted;
  }
}
