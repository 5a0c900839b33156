#include "platform/NativeSockets.h"  // first: it removes the system's clashing macros

#include "platform/WinSockAsync.h"

#include <map>
#include <mutex>
#include <vector>

namespace platform::ws::async {
namespace {

struct State {
  HWND hwnd = 0;
  UINT msg = 0;
  long events = 0;
  bool listening = false;
  bool connecting = false;
  bool connected = false;
  bool readArmed = true;
  // Read readiness stays watched after FD_READ was posted, until the descriptor reports it while
  // the notice is still off: the recv that the notice brings usually re-arms it first, and a
  // watch left alone costs no system call.
  bool readLingering = false;
  bool readAtEnd = false;  // readable, but only the end of the stream: wait for the next recv
  bool writeArmed = true;
  bool writeBlocked = false;
  bool acceptArmed = true;
  bool closeSent = false;
  bool failed = false;
};

struct Notice {
  HWND hwnd;
  UINT msg;
  SOCKET s;
  long event;
  int error;
};

std::mutex gLock;
std::map<SOCKET, State>& States() {
  static auto* states = new std::map<SOCKET, State>;
  return *states;
}

int PendingBytes(SOCKET s) {
  int bytes = 0;
  return ::ioctl(static_cast<int>(s), native::kFionRead, &bytes) == 0 ? bytes : 0;
}

int TakeSocketError(SOCKET s) {
  int error = 0;
  socklen_t len = sizeof error;
  ::getsockopt(static_cast<int>(s), native::kSolSocket, native::kSoError, &error, &len);
  return error == 0 ? 0 : WinsockErrorFromErrno(error);
}

std::uint32_t Interest(const State& st) {
  if (st.failed) return 0;
  if (st.connecting) return EPOLLOUT;
  if (st.listening) return st.acceptArmed ? std::uint32_t{EPOLLIN} : 0;
  if (!st.connected) return 0;
  std::uint32_t interest = 0;
  if ((st.readArmed || st.readLingering) && !st.readAtEnd) interest |= EPOLLIN;
  if (!st.closeSent) interest |= EPOLLRDHUP;
  if (st.writeBlocked) interest |= EPOLLOUT;
  return interest;
}

void Queue(std::vector<Notice>& out, const State& st, SOCKET s, long event, int error = 0) {
  if (st.events & event) out.push_back({st.hwnd, st.msg, s, event, error});
}

void PostAll(const std::vector<Notice>& notices) {
  for (const Notice& n : notices)
    PostMessage(n.hwnd, n.msg, n.s, static_cast<LPARAM>(n.event | (static_cast<long>(n.error) << 16)));
}

void ConnectionUp(State& st, SOCKET s, std::vector<Notice>& out) {
  st.connected = true;
  if (st.writeArmed) {
    Queue(out, st, s, FD_WRITE);
    st.writeArmed = false;
  }
}

// Readable with no hang-up or error reported, while the peer's close is still watched, means bytes
// wait; otherwise only the count can tell them from the bare end of the stream.
bool HasData(const State& st, SOCKET s, std::uint32_t ready) {
  if (!st.closeSent && (ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == 0) return true;
  return PendingBytes(s) > 0;
}

void OnReadable(State& st, SOCKET s, std::uint32_t ready, std::vector<Notice>& out) {
  if (!st.readArmed) {
    st.readLingering = false;  // no recv came yet: stop watching until one does
  } else if (HasData(st, s, ready)) {
    Queue(out, st, s, FD_READ);
    st.readArmed = false;
    st.readLingering = true;
  } else {
    st.readAtEnd = true;
  }
}

// Runs on the selecting thread whenever the socket is ready for something it watches.
void OnReady(SOCKET s, std::uint32_t ready) {
  std::vector<Notice> out;
  std::uint32_t interest;
  {
    std::lock_guard guard(gLock);
    auto it = States().find(s);
    if (it == States().end()) return;
    State& st = it->second;
    if (st.connecting) {
      st.connecting = false;
      int error = TakeSocketError(s);
      Queue(out, st, s, FD_CONNECT, error);
      if (error == 0)
        ConnectionUp(st, s, out);
      else
        st.failed = true;  // a failed connect ends with its FD_CONNECT: no FD_CLOSE
    } else if (st.listening) {
      if ((ready & EPOLLIN) && st.acceptArmed) {
        Queue(out, st, s, FD_ACCEPT);
        st.acceptArmed = false;
      }
    } else if (st.connected) {
      if (ready & EPOLLIN) OnReadable(st, s, ready, out);
      if ((ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !st.closeSent) {
        Queue(out, st, s, FD_CLOSE, TakeSocketError(s));
        st.closeSent = true;
      }
      if ((ready & EPOLLOUT) && st.writeBlocked) {
        st.writeBlocked = false;
        Queue(out, st, s, FD_WRITE);
      }
    }
    interest = Interest(st);
  }
  ModifyDescriptorWatch(static_cast<int>(s), interest);
  PostAll(out);
}

// Applies a change to a selected socket's state, then its new interest and notices.
template <typename F>
void Update(SOCKET s, F change) {
  std::vector<Notice> out;
  std::uint32_t interest;
  {
    std::lock_guard guard(gLock);
    auto it = States().find(s);
    if (it == States().end()) return;
    change(it->second, out);
    interest = Interest(it->second);
  }
  ModifyDescriptorWatch(static_cast<int>(s), interest);
  PostAll(out);
}

bool IsListening(SOCKET s) {
  int accepting = 0;
  socklen_t len = sizeof accepting;
  return ::getsockopt(static_cast<int>(s), native::kSolSocket, native::kSoAcceptConn, &accepting, &len) == 0 && accepting;
}

bool IsConnected(SOCKET s) {
  ::sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  return ::getpeername(static_cast<int>(s), reinterpret_cast<::sockaddr*>(&peer), &len) == 0;
}

}  // namespace

void Select(SOCKET s, HWND hwnd, UINT msg, long events) {
  UnwatchDescriptor(static_cast<int>(s));
  State st;
  st.hwnd = hwnd;
  st.msg = msg;
  st.events = events;
  st.listening = IsListening(s);
  std::vector<Notice> out;
  if (!st.listening && IsConnected(s)) ConnectionUp(st, s, out);
  {
    std::lock_guard guard(gLock);
    States()[s] = st;
  }
  WatchDescriptor(static_cast<int>(s), Interest(st), [](int fd, std::uint32_t ready) {
    OnReady(static_cast<SOCKET>(fd), ready);
  });
  PostAll(out);
}

void Cancel(SOCKET s) {
  {
    std::lock_guard guard(gLock);
    States().erase(s);
  }
  UnwatchDescriptor(static_cast<int>(s));
}

void OnReceive(SOCKET s) {
  Update(s, [](State& st, std::vector<Notice>&) {
    st.readArmed = true;
    st.readLingering = false;
    st.readAtEnd = false;
  });
}

void OnReadPending(SOCKET s) {
  Update(s, [s](State& st, std::vector<Notice>& out) {
    if (!st.connected || !st.readArmed) return;
    Queue(out, st, s, FD_READ);
    st.readArmed = false;
  });
}

void OnSendBlocked(SOCKET s) {
  Update(s, [](State& st, std::vector<Notice>&) { st.writeBlocked = true; });
}

void OnConnectStarted(SOCKET s, bool done) {
  Update(s, [s, done](State& st, std::vector<Notice>& out) {
    if (done) {
      Queue(out, st, s, FD_CONNECT);
      ConnectionUp(st, s, out);
    } else {
      st.connecting = true;
    }
  });
}

void OnListen(SOCKET s) {
  Update(s, [](State& st, std::vector<Notice>&) {
    st.listening = true;
    st.acceptArmed = true;
  });
}

bool MakeNonBlocking(SOCKET s) {
  const int fd = static_cast<int>(s);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return (flags & O_NONBLOCK) != 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void OnAccept(SOCKET listener, SOCKET accepted) {
  State inherited;
  bool selected = false;
  Update(listener, [&](State& st, std::vector<Notice>&) {
    st.acceptArmed = true;
    inherited = st;
    selected = true;
  });
  // The accepted socket has the listening socket's selection, as the library documents, and so
  // never blocks either.
  if (selected && accepted != INVALID_SOCKET) {
    MakeNonBlocking(accepted);
    Select(accepted, inherited.hwnd, inherited.msg, inherited.events);
  }
}

void OnClose(SOCKET s) {
  State st;
  bool selected = false;
  {
    std::lock_guard guard(gLock);
    auto it = States().find(s);
    if (it != States().end()) {
      st = it->second;
      selected = true;
      States().erase(it);
    }
  }
  UnwatchDescriptor(static_cast<int>(s));
  if (selected)
    RemoveWindowMessages(st.hwnd, [&](const MSG& m) { return m.message == st.msg && m.wParam == s; });
}

}  // namespace platform::ws::async
