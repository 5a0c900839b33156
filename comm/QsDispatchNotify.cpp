// The trigger checks and the notification pass that delivers a fired trigger to every handler.
#include <algorithm>

#include "comm/QsDispatch.h"
#include "comm/QsDispatchThreads.h"

// ---- The notification pass ------------------------------------------------------------------------

// Ends a pass however it is left (also by a handler's exception): the tail moves past what the
// handlers read, Dispatching is cleared and handlers removed meanwhile are purged.
void TQsBaseDispatcher::EndNotificationPass(platform::UINT msg, platform::WPARAM first, bool closed, bool& result) {
  {
    Guard in(inputLock_);
    if (inNotification_ && !closed) {
      inRing_.AdvanceTail(std::min(maxReadCount_, inRing_.Count()));
      if (msg == DM_AVAIL && static_cast<platform::WPARAM>(maxReadCount_) != first) result = false;
    }
    inNotification_ = false;
    readCount_ = 0;
  }
  Guard state(stateLock_);
  dispatching_.store(false);
  PurgeDeletedHandlers();
}

bool TQsBaseDispatcher::CallHandler(int index, bool window, platform::UINT msg, platform::WPARAM first,
                                    platform::LPARAM second, bool& finished) {
  TQsNotifyMethod method;
  platform::HWND wnd = 0;
  bool deleted;
  {
    Guard state(stateLock_);
    if (window) {
      if (index >= static_cast<int>(windowHandlers_.size())) return finished = true, false;
      wnd = windowHandlers_[index].wnd;
      deleted = windowHandlers_[index].deleted;
    } else {
      if (index >= static_cast<int>(methodHandlers_.size())) return finished = true, false;
      method = methodHandlers_[index].method;
      deleted = methodHandlers_[index].deleted;
    }
  }
  {
    Guard in(inputLock_);
    readCount_ = 0;
  }
  if (!deleted) {
    if (window) {
      platform::LRESULT answer = 0;
      platform::SendMessageTimeout(wnd, msg, first, second, kWindowHandlerTimeoutMs, &answer);
    } else if (method) {
      method(msg, first, second);
      if (TQsDispatcherThread::ServedDispatcherFreed()) return finished = true, true;
    }
  }
  if (ClosePending()) return true;
  Guard in(inputLock_);
  maxReadCount_ = std::max(maxReadCount_, readCount_);
  return false;
}

bool TQsBaseDispatcher::NotifyHandlers(platform::UINT msg, platform::WPARAM first, std::uint16_t data) {
  if (!handlersActive_.load()) return true;
  {
    Guard state(stateLock_);
    dispatching_.store(true);
  }
  bool result = true;
  bool closed = false;
  try {
    closed = DeliverToHandlers(msg, first, data);
  } catch (...) {
    if (!TQsDispatcherThread::ServedDispatcherFreed()) EndNotificationPass(msg, first, closed, result);
    throw;
  }
  if (TQsDispatcherThread::ServedDispatcherFreed()) return false;  // a handler freed the dispatcher
  if (closed) result = false;
  EndNotificationPass(msg, first, closed, result);
  return result;
}

bool TQsBaseDispatcher::DeliverToHandlers(platform::UINT msg, platform::WPARAM first, std::uint16_t data) {
  {
    Guard in(inputLock_);
    maxReadCount_ = 0;
    inNotification_ = msg == DM_AVAIL || msg == DM_DATA;
  }
  const auto second = static_cast<platform::LPARAM>(static_cast<std::uint32_t>(handle_) * 65536u + data);
  bool finished = false;
  for (int i = 0; !finished; ++i) {
    if (CallHandler(i, false, msg, first, second, finished)) return true;
  }
  {
    Guard state(stateLock_);
    finished = !(windowHandlers_.size() > 1 || portHasHandler_.load());
  }
  for (int i = 0; !finished; ++i) {
    if (CallHandler(i, true, msg, first, second, finished)) return true;
  }
  return false;
}
