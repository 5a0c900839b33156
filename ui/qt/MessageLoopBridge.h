// Runs the platform message loop inside Qt's event loop: one QSocketNotifier watches the calling
// thread's loop descriptor and dispatches what is ready, so that window messages, timers and
// socket notices keep flowing in every Qt loop, nested modal ones included.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace qtfront {

class MessageLoopBridge : public QObject {
 public:
  explicit MessageLoopBridge(QObject* parent = nullptr);

  // Called when the platform's quit message is taken; by default the Qt application exits with
  // the quit message's exit code.
  void SetQuitHandler(std::function<void(int exitCode)> handler) { onQuit_ = std::move(handler); }

 private:
  void DispatchReady();

  QSocketNotifier notifier_;
  std::function<void(int)> onQuit_;
};

}  // namespace qtfront
