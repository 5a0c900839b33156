// The program's main window on a real X server (Xvfb, started here on a free display): after every
// form change the X server itself (xwininfo, xprop of x11-utils) must say the window is mapped,
// at the same place and size, and a grab of the real screen must show it. The screenshots of the
// screen are kept in <build>/tests/qt/screenshots/x11-*.png.
// Without Xvfb the tests skip, or fail under CI=true.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "tests/qt/MainWindowHarness.h"
#include "tests/support/RealPeers.h"
#include "tests/support/XvfbServer.h"

namespace {

std::string xvfbFailure;  // why there is no X server, empty when there is one

// What the X server says of a window.
struct XWindowState {
  bool viewable = false;
  int x = 0, y = 0, width = 0, height = 0;
};

std::optional<int> Field(const std::string& text, const std::string& label) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(label + R"(:\s+(-?\d+))"))) return std::nullopt;
  return std::stoi(m[1]);
}

std::optional<XWindowState> AskXServer(const QWidget& window) {
  const std::string info =
      testsupport::CommandOutput("xwininfo -id " + std::to_string(window.winId()) + " 2>/dev/null");
  const auto x = Field(info, "Absolute upper-left X"), y = Field(info, "Absolute upper-left Y");
  const auto width = Field(info, "Width"), height = Field(info, "Height");
  if (!x || !y || !width || !height) return std::nullopt;
  return XWindowState{info.find("Map State: IsViewable") != std::string::npos, *x, *y, *width, *height};
}

// Waits until the X server shows the window (it maps windows asynchronously).
std::optional<XWindowState> SettledState(const QWidget& window) {
  std::optional<XWindowState> state;
  QElapsedTimer timer;
  timer.start();
  do {
    MainWindowHarness::Settle(50);
    state = AskXServer(window);
  } while ((!state || !state->viewable) && timer.elapsed() < 5000);
  return state;
}

// The real screen, as the X server has it.
QImage GrabScreen(const std::string& name) {
  const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  const std::filesystem::path dir = QS_SCREENSHOT_DIR;
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(screen.save(QString::fromStdString((dir / ("x11-" + name + ".png")).string()))) << name;
  return screen;
}

// Xvfb's screen is black where no window is; the window's face is not.
bool ScreenShowsWindowAt(const QImage& screen, const XWindowState& state) {
  const QColor face = screen.pixelColor(state.x + state.width - 20, state.y + 50);
  return face.lightness() > 100;
}

class X11Server : public testing::Test {
 protected:
  void SetUp() override { QS_NEEDS_REAL_PEER(xvfbFailure.empty(), xvfbFailure); }
};

class X11Window : public X11Server, public testing::WithParamInterface<FormChange> {};

TEST_P(X11Window, StaysMappedInPlaceAfterTheChange) {
  MainWindowHarness h({"ORV", "E"});
  const auto before = SettledState(h.Widget());
  ASSERT_TRUE(before.has_value());
  ASSERT_TRUE(before->viewable);
  EXPECT_EQ(before->width, 494);
  EXPECT_EQ(before->height, 327);

  GetParam().apply(h);
  const auto after = SettledState(h.Widget());
  ASSERT_TRUE(after.has_value());
  EXPECT_TRUE(after->viewable) << "the X server has the window unmapped";
  EXPECT_EQ(after->x, before->x);
  EXPECT_EQ(after->y, before->y);
  EXPECT_EQ(after->width, before->width);
  EXPECT_EQ(after->height, before->height);
  const QImage screen = GrabScreen(GetParam().name);
  EXPECT_TRUE(ScreenShowsWindowAt(screen, *after)) << "the screen does not show the window";
}

INSTANTIATE_TEST_SUITE_P(Changes, X11Window, testing::ValuesIn(FormChanges()),
                         [](const testing::TestParamInfo<FormChange>& info) { return std::string(info.param.name); });

TEST_F(X11Server, TheWindowManagerIsToldTheIconAndTheCaption) {
  MainWindowHarness h({"ORV", "C"});
  ASSERT_TRUE(SettledState(h.Widget()).has_value());
  const std::string props = testsupport::CommandOutput("LC_ALL=C.UTF-8 xprop -id " + std::to_string(h.Widget().winId()) +
                                                       " _NET_WM_ICON _NET_WM_NAME 2>/dev/null");
  EXPECT_NE(props.find("Icon (32 x 32)"), std::string::npos) << props.substr(0, 200);
  EXPECT_NE(props.find("軟件安裝糸統  (Updated on 2017/10/12)"), std::string::npos) << props.substr(0, 200);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::unique_ptr<testsupport::XvfbServer> xvfb;
  if (!::testing::GTEST_FLAG(list_tests)) {
    std::string reason;
    xvfb = testsupport::XvfbServer::Start(reason);
    if (xvfb) {
      qputenv("DISPLAY", QByteArray::fromStdString(xvfb->Display()));
      qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
      xvfbFailure = reason;
    }
  }
  if (!xvfb) qputenv("QT_QPA_PLATFORM", "offscreen");
  int result = 0;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    result = RUN_ALL_TESTS();
  }
  return result;
}
