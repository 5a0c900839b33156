#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/MessageLoop.h"
#include "ui/qt/MessageLoopBridge.h"

using namespace platform;

namespace {

constexpr UINT kMsgOpenDialog = WM_USER + 1;
constexpr UINT kMsgAsk = WM_USER + 2;
constexpr UINT kMsgCount = WM_USER + 3;

struct Probe {
  int posted = 0;
  int ticks = 0;
  int ticksInDialog = 0;
  int ticksAfterDialog = 0;
  int asksAnswered = 0;
  int asksInDialog = 0;
  QDialog* dialog = nullptr;
  int dialogResult = -1;
};
Probe* gProbe = nullptr;

LRESULT ProbeProc(HWND hwnd, UINT msg, WPARAM w, LPARAM) {
  Probe& p = *gProbe;
  switch (msg) {
    case kMsgCount:
      ++p.posted;
      return 0;
    case kMsgAsk:
      ++p.asksAnswered;
      if (p.dialog) ++p.asksInDialog;
      return static_cast<LRESULT>(w + 1);
    case WM_TIMER:
      ++p.ticks;
      if (p.dialog) {
        ++p.ticksInDialog;
        if (p.ticksInDialog == 3) p.dialog->accept();
      } else if (p.dialogResult != -1 && ++p.ticksAfterDialog == 3) {
        KillTimer(hwnd, w);
        PostQuitMessage(5);
      }
      return 0;
    case kMsgOpenDialog: {
      // A modal dialog's nested loop: our timer, posts and cross-thread sends must keep flowing.
      QDialog dialog;
      p.dialog = &dialog;
      PostMessage(hwnd, kMsgCount, 0, 0);
      p.dialogResult = dialog.exec();
      p.dialog = nullptr;
      return 0;
    }
  }
  return DefWindowProc(hwnd, msg, w, 0);
}

TEST(QtLoopTest, MessagesTimersAndSendsFlowInQtLoopsAndNestedModalLoops) {
  Probe probe;
  gProbe = &probe;
  RegisterWindowClass("QtProbe", ProbeProc);
  HWND hwnd = CreateWindowOfClass("QtProbe");
  qtfront::MessageLoopBridge bridge;

  PostMessage(hwnd, kMsgCount, 0, 0);
  PostMessage(hwnd, kMsgOpenDialog, 0, 0);
  ASSERT_NE(SetTimer(hwnd, 1, 40), 0u);

  // A worker asks the main thread while the modal dialog is (most likely) open, and once more later.
  std::atomic<int> answers{0};
  std::thread worker([&] {
    for (WPARAM i = 0; i < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      if (SendMessage(hwnd, kMsgAsk, i, 0) == static_cast<LRESULT>(i + 1)) ++answers;
    }
  });
  // A guard so that a broken bridge fails the test instead of hanging it.
  QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });

  int exitCode = QApplication::exec();
  worker.join();
  DestroyWindow(hwnd);

  EXPECT_EQ(exitCode, 5) << "the platform's quit message ends the Qt loop with its code";
  EXPECT_EQ(probe.dialogResult, QDialog::Accepted);
  EXPECT_EQ(probe.ticksInDialog, 3);
  EXPECT_EQ(probe.ticksAfterDialog, 3) << "the timer goes on in the outer loop";
  EXPECT_EQ(probe.posted, 2);
  EXPECT_EQ(answers.load(), 2);
  EXPECT_GE(probe.asksInDialog, 1) << "a send was answered inside the modal loop";
  gProbe = nullptr;
}

}  // namespace
