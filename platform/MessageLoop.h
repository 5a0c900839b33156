// Window messages on Linux: per-thread message queues, window classes and windows, posted and sent
// messages, window timers, the quit message, and descriptor watching, each thread's loop being one
// epoll descriptor that a GUI toolkit can watch.
//
// The names follow the Windows calls they stand in for, so that the engine reads like the protocol
// descriptions it implements. Semantics that the engine relies on:
//  - Posted messages are delivered in the order they were posted, per receiving thread.
//  - A send to a window of the calling thread calls its procedure directly. A send to another
//    thread's window blocks the sender until the owner handles it; the owner handles sent messages
//    whenever it pumps (peek, get, or while it is itself blocked in a send). A blocked sender keeps
//    handling messages sent to its own thread, so two threads sending to each other cannot deadlock.
//  - Timer messages and the quit message are produced only when no posted message is waiting.
//  - No lock is held while a window procedure runs: handlers may pump (nested loops) freely.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace platform {

using HWND = std::uint32_t;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR idEvent, std::uint32_t time);

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_QUIT = 0x0012;  // 18
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr int GWLP_USERDATA = -21;

struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::uint32_t time = 0;  // MonotonicMilliseconds() when the message was queued
};

// ---- Window classes and windows -------------------------------------------------------------

// Registers a class; false when a class of that name exists already or proc is null.
bool RegisterWindowClass(const std::string& className, WNDPROC proc);
bool UnregisterWindowClass(const std::string& className);
bool IsWindowClassRegistered(const std::string& className);

// Creates a (hidden) window of a registered class on the calling thread; 0 when the class is
// unknown. Handles are never reused while the process runs. The procedure receives WM_CREATE.
HWND CreateWindowOfClass(const std::string& className, const std::string& windowName = {});
// Destroys a window of the calling thread: sends WM_DESTROY, kills its timers, and drops the
// messages still queued for it. False for an unknown window or one owned by another thread.
bool DestroyWindow(HWND hwnd);
bool IsWindow(HWND hwnd);
std::string GetWindowName(HWND hwnd);
LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value);  // returns the previous value
LONG_PTR GetWindowLongPtr(HWND hwnd, int index);
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- Posting and sending --------------------------------------------------------------------

// Queues a message for the window's thread; hwnd 0 queues it for the calling thread.
// False when the window does not exist.
bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the window's procedure, directly or through its thread (see above); 0 for an unknown window.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// As SendMessage, but gives up after timeoutMs: returns false (and the message is then never
// handled). True with *result set when the owner handled it in time.
bool SendMessageTimeout(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, unsigned timeoutMs,
                        LRESULT* result);
// Answers, with result, a window message that the thread `sender` sent and that the calling thread
// is handling now, before its procedure returns: the sender goes on at once. False when the calling
// thread handles no message from that thread. (An object freed inside the handler lets its own
// service thread finish this way instead of leaving it waiting for the handler.)
bool ReplyMessage(std::thread::id sender, LRESULT result);
// Asks the calling thread's loop to end: GetMessage then returns false with MSG::wParam = exitCode.
void PostQuitMessage(int exitCode);

// Removes the calling thread's posted messages for which pred is true (for example the
// notifications of a closed socket). Returns how many were removed.
int RemovePostedMessages(const std::function<bool(const MSG&)>& pred);
// The same on the queue of the thread that owns hwnd, for the messages posted to hwnd only.
int RemoveWindowMessages(HWND hwnd, const std::function<bool(const MSG&)>& pred);

// ---- Retrieving and dispatching -------------------------------------------------------------

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

// Handles pending sent messages and ready descriptors, then takes the next message without waiting.
bool PeekMessage(MSG& msg, UINT removeFlag = PM_REMOVE);
// Waits for the next message; false when it is the quit message.
bool GetMessage(MSG& msg);
// Blocks until the calling thread's loop may have something (a message, a sent message, a due
// timer, a ready descriptor) or timeoutMs passes (negative waits without limit). False on time-out.
bool WaitMessage(int timeoutMs = -1);
bool TranslateMessage(const MSG& msg);  // no keyboard translation is needed: does nothing
// Calls the window procedure (or, for WM_TIMER with a timer procedure, that procedure).
LRESULT DispatchMessage(const MSG& msg);

// For a toolkit that watches MessageLoopDescriptor(): dispatches what is ready without waiting.
// Returns false when it took the quit message (its exit code in *exitCode). Stops after about
// budgetMs so that the toolkit's own events are not starved, leaving the descriptor readable.
bool DispatchReadyMessages(int* exitCode, unsigned budgetMs = 20);

// ---- Timers ---------------------------------------------------------------------------------

// With a window: (re)starts the window's timer idEvent, returns idEvent (0 for an unknown window).
// Without a window (hwnd 0): starts a new timer of the calling thread and returns its fresh id.
// Each period at most one WM_TIMER is produced; proc, when given, is called by DispatchMessage.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapseMs, TIMERPROC proc = nullptr);
bool KillTimer(HWND hwnd, UINT_PTR idEvent);

// ---- Threads --------------------------------------------------------------------------------

// The calling thread's loop descriptor: readable while the loop may have work. Watch it for
// reading and drain with PeekMessage/DispatchMessage when it fires.
int MessageLoopDescriptor();
// The process's first thread is the main thread.
bool IsMainThread();
// Runs fn on the main thread while that thread pumps, and waits for it; runs it directly when
// called on the main thread. The caller keeps handling messages sent to its own thread meanwhile.
void RunOnMainThread(const std::function<void()>& fn);

// ---- Descriptor watching --------------------------------------------------------------------

// Watches fd on the calling thread's loop for the epoll events given; callback runs from the
// loop (during PeekMessage, GetMessage or a send's wait) whenever the descriptor is ready, on
// that thread. Level-triggered: a callback that does not consume or unwatch is called again.
using DescriptorCallback = std::function<void(int fd, std::uint32_t events)>;
bool WatchDescriptor(int fd, std::uint32_t events, DescriptorCallback callback);
bool ModifyDescriptorWatch(int fd, std::uint32_t events);  // events 0 pauses the watch
bool UnwatchDescriptor(int fd);

}  // namespace platform
