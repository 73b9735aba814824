// Window handles and window messages.
//
// A handle is an opaque number registered process-wide; it is never dereferenced,
// so a stale or made-up handle is simply "not a window". Each window belongs to
// the thread that created it. A message sent from that thread calls the window
// procedure directly; a message sent from any other thread runs the procedure on
// the owning thread, through that thread's dispatcher, while the sender blocks.
#pragma once

#include "platform/win32/types.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace win32 {

constexpr UINT WM_COPYDATA = 0x004A;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_USER = 0x0400;
constexpr WPARAM SC_MOVE = 0xF010;
constexpr WPARAM HTCAPTION = 2;

struct COPYDATASTRUCT
{
    ULONG_PTR dwData; // caller's tag
    DWORD cbData;     // bytes at lpData
    void *lpData;
};

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// The owning thread's side of cross-thread messages: runs a task on that thread,
// later, in order. A task that is destroyed without having run (because its
// thread stopped dispatching) completes its message with the result 0.
class QUILLON_WIN32_API MessageDispatcher
{
public:
    virtual ~MessageDispatcher();
    virtual void post(std::function<void()> task) = 0;
};

// The plain dispatcher for threads without a GUI event loop: tasks wait in a
// queue until the owning thread pumps it.
class QUILLON_WIN32_API MessageQueue : public MessageDispatcher
{
public:
    ~MessageQueue() override;
    void post(std::function<void()> task) override;

    // Runs every task queued so far; returns how many ran.
    int processPending();
    // Waits up to `timeout` for at least one task, then runs what is queued.
    int waitAndProcess(std::chrono::milliseconds timeout);
    // Pumps until `done` returns true; `done` is checked after every task.
    void runUntil(const std::function<bool()> &done);

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
};

// The dispatcher that windows created on the calling thread will use. A thread
// that creates a window without having set one gets a MessageQueue of its own,
// which it can reach through CurrentThreadQueue().
QUILLON_WIN32_API void SetThreadDispatcher(std::shared_ptr<MessageDispatcher> dispatcher);
QUILLON_WIN32_API std::shared_ptr<MessageDispatcher> ThreadDispatcher();
QUILLON_WIN32_API MessageQueue *CurrentThreadQueue();

QUILLON_WIN32_API HWND CreateWindowHandle(WindowProc proc);
// Destroys the handle; messages still waiting for it complete with 0.
QUILLON_WIN32_API BOOL DestroyWindowHandle(HWND hwnd);
QUILLON_WIN32_API BOOL IsWindow(HWND hwnd);

// Same number for the same name (compared case-insensitively) anywhere in the
// process, from 0xC000 up; 0 for a null or empty name.
QUILLON_WIN32_API UINT RegisterWindowMessageA(const char *name);

// Returns the procedure's result, or 0 at once for a null or destroyed handle.
QUILLON_WIN32_API LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues the message for the owning thread and returns at once.
QUILLON_WIN32_API BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Named values that travel with a window, for code that gets nothing but the
// handle (a library asked to show a dialog owned by the window). Names compare
// case-insensitively; the values go when the window does. SetPropA fails on a
// null or destroyed handle and for a null or empty name.
QUILLON_WIN32_API BOOL SetPropA(HWND hwnd, const char *name, void *data);
// Null when the window or the value is missing.
QUILLON_WIN32_API void *GetPropA(HWND hwnd, const char *name);
// Takes the value away and returns it.
QUILLON_WIN32_API void *RemovePropA(HWND hwnd, const char *name);

} // namespace win32
