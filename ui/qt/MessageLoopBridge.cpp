#include "ui/qt/MessageLoopBridge.h"

#include <QCoreApplication>

#include "platform/MessageLoop.h"

namespace qtfront {

MessageLoopBridge::MessageLoopBridge(QObject* parent)
    : QObject(parent),
      notifier_(platform::MessageLoopDescriptor(), QSocketNotifier::Read),
      onQuit_([](int exitCode) { QCoreApplication::exit(exitCode); }) {
  // Not disabled while dispatching: a handler that opens a modal dialog runs a nested Qt loop,
  // and the notifier must keep serving our messages inside it.
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { DispatchReady(); });
}

void MessageLoopBridge::DispatchReady() {
  int exitCode = 0;
  if (!platform::DispatchReadyMessages(&exitCode)) onQuit_(exitCode);
}

}  // namespace qtfront
