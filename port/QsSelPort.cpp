#include "port/QsSelPort.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/Serial.h"
#include "port/QsSerial.h"

namespace {

std::mutex gDialogLock;
TPortSelectionDialog gDialog;

}  // namespace

bool IsPortAvailable(int number) {
  if (number <= 0) return false;
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", number);
  auto probe = std::make_unique<TQsWin32Dispatcher>(nullptr);
  if (probe->DeviceOpen(name, 64, 64) >= 0) {
    probe->DeviceClose();
    return true;
  }
  // Held by another program: the port is there, only busy.
  return probe->LastError() == platform::kSysErrAccessDenied;
}

TPortSelectionDialog SetPortSelectionDialog(TPortSelectionDialog dialog) {
  std::lock_guard guard(gDialogLock);
  std::swap(gDialog, dialog);
  return dialog;
}

int ShowPortSelection(int& selectedPort) {
  TPortSelectionDialog dialog;
  {
    std::lock_guard guard(gDialogLock);
    dialog = gDialog;
  }
  return dialog ? dialog(selectedPort) : kSelectionCancel;
}
