#include "platform/win32/window.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace win32 {

MessageDispatcher::~MessageDispatcher() = default;

MessageQueue::~MessageQueue()
{
    // Dropping the tasks completes their messages with 0 (see PendingCall).
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(tasks_);
    }
}

void MessageQueue::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

int MessageQueue::processPending()
{
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(tasks_);
    }
    int ran = 0;
    while (!batch.empty()) {
        auto task = std::move(batch.front());
        batch.pop_front();
        task();
        ++ran;
    }
    return ran;
}

int MessageQueue::waitAndProcess(std::chrono::milliseconds timeout)
{
    {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, timeout, [this] { return !tasks_.empty(); });
    }
    return processPending();
}

void MessageQueue::runUntil(const std::function<bool()> &done)
{
    while (!done()) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !tasks_.empty(); });
            if (tasks_.empty())
                continue;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

namespace {

thread_local std::shared_ptr<MessageDispatcher> t_dispatcher;

// One message sent across threads: the sender waits on it, the owner's task or
// the window's destruction completes it.
struct PendingCall
{
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    LRESULT result = 0;
    MessageQueue *senderQueue = nullptr; // woken so a waiting sender keeps pumping

    void finish(LRESULT value)
    {
        MessageQueue *wake = nullptr;
        {
            std::lock_guard lock(mutex);
            if (done)
                return;
            done = true;
            result = value;
            wake = senderQueue;
        }
        cv.notify_all();
        if (wake)
            wake->post([] {});
    }

    bool isDone()
    {
        std::lock_guard lock(mutex);
        return done;
    }
};

// Completes the call with 0 when the task that carries it dies without running.
struct Completer
{
    std::shared_ptr<PendingCall> call;
    explicit Completer(std::shared_ptr<PendingCall> c)
        : call(std::move(c))
    {}
    ~Completer() { call->finish(0); }
    Completer(const Completer &) = delete;
    Completer &operator=(const Completer &) = delete;
};

struct WindowRecord
{
    WindowProc proc;
    std::thread::id owner;
    std::shared_ptr<MessageDispatcher> dispatcher;

    std::mutex mutex;
    bool alive = true;
    std::vector<std::shared_ptr<PendingCall>> pending;
    std::map<std::string, void *> props;

    bool isAlive()
    {
        std::lock_guard lock(mutex);
        return alive;
    }
};

struct Registry
{
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<WindowRecord>> windows;
    std::uintptr_t next = 0x10010;
    std::map<std::string, UINT> messages;
    UINT nextMessage = 0xC000;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

std::shared_ptr<WindowRecord> lookup(HWND hwnd)
{
    if (!hwnd)
        return nullptr;
    auto &reg = registry();
    std::lock_guard lock(reg.mutex);
    auto it = reg.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    return it == reg.windows.end() ? nullptr : it->second;
}

// Windows die with the thread that made them, so that nobody waits on a thread
// that is gone.
struct ThreadWindows
{
    std::vector<HWND> hwnds;
    ~ThreadWindows()
    {
        auto owned = std::move(hwnds);
        for (HWND hwnd : owned)
            DestroyWindowHandle(hwnd);
    }
};
thread_local ThreadWindows t_windows;

} // namespace

void SetThreadDispatcher(std::shared_ptr<MessageDispatcher> dispatcher)
{
    t_dispatcher = std::move(dispatcher);
}

std::shared_ptr<MessageDispatcher> ThreadDispatcher()
{
    return t_dispatcher;
}

MessageQueue *CurrentThreadQueue()
{
    return dynamic_cast<MessageQueue *>(t_dispatcher.get());
}

HWND CreateWindowHandle(WindowProc proc)
{
    if (!t_dispatcher)
        t_dispatcher = std::make_shared<MessageQueue>();
    auto record = std::make_shared<WindowRecord>();
    record->proc = std::move(proc);
    record->owner = std::this_thread::get_id();
    record->dispatcher = t_dispatcher;

    auto &reg = registry();
    std::lock_guard lock(reg.mutex);
    std::uintptr_t id = reg.next;
    reg.next += 0x10;
    reg.windows.emplace(id, std::move(record));
    t_windows.hwnds.push_back(reinterpret_cast<HWND>(id));
    return reinterpret_cast<HWND>(id);
}

BOOL DestroyWindowHandle(HWND hwnd)
{
    std::shared_ptr<WindowRecord> record;
    {
        auto &reg = registry();
        std::lock_guard lock(reg.mutex);
        auto it = reg.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
        if (it == reg.windows.end())
            return FALSE;
        record = std::move(it->second);
        reg.windows.erase(it);
    }
    std::vector<std::shared_ptr<PendingCall>> waiting;
    std::shared_ptr<MessageDispatcher> dispatcher;
    {
        std::lock_guard lock(record->mutex);
        record->alive = false;
        waiting.swap(record->pending);
        // Queued tasks hold the record; letting go of the queue breaks that cycle.
        dispatcher = std::move(record->dispatcher);
    }
    for (auto &call : waiting)
        call->finish(0);
    if (record->owner == std::this_thread::get_id())
        std::erase(t_windows.hwnds, hwnd);
    return TRUE;
}

BOOL IsWindow(HWND hwnd)
{
    return lookup(hwnd) ? TRUE : FALSE;
}

namespace {

std::string lowerCase(const char *name)
{
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

} // namespace

BOOL SetPropA(HWND hwnd, const char *name, void *data)
{
    auto record = lookup(hwnd);
    if (!record || !name || !*name)
        return FALSE;
    std::lock_guard lock(record->mutex);
    if (!record->alive)
        return FALSE;
    record->props[lowerCase(name)] = data;
    return TRUE;
}

void *GetPropA(HWND hwnd, const char *name)
{
    auto record = lookup(hwnd);
    if (!record || !name || !*name)
        return nullptr;
    std::lock_guard lock(record->mutex);
    const auto it = record->props.find(lowerCase(name));
    return it == record->props.end() ? nullptr : it->second;
}

void *RemovePropA(HWND hwnd, const char *name)
{
    auto record = lookup(hwnd);
    if (!record || !name || !*name)
        return nullptr;
    std::lock_guard lock(record->mutex);
    const auto it = record->props.find(lowerCase(name));
    if (it == record->props.end())
        return nullptr;
    void *data = it->second;
    record->props.erase(it);
    return data;
}

UINT RegisterWindowMessageA(const char *name)
{
    if (!name || !*name)
        return 0;
    const std::string key = lowerCase(name);
    auto &reg = registry();
    std::lock_guard lock(reg.mutex);
    auto [it, added] = reg.messages.emplace(key, reg.nextMessage);
    if (added)
        ++reg.nextMessage;
    return it->second;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto record = lookup(hwnd);
    if (!record)
        return 0;
    if (record->owner == std::this_thread::get_id()) {
        WindowProc proc = record->proc; // the window may be destroyed inside its own procedure
        return proc ? proc(hwnd, msg, wParam, lParam) : 0;
    }

    auto call = std::make_shared<PendingCall>();
    call->senderQueue = CurrentThreadQueue();
    std::shared_ptr<MessageDispatcher> dispatcher;
    {
        std::lock_guard lock(record->mutex);
        if (!record->alive)
            return 0;
        record->pending.push_back(call);
        dispatcher = record->dispatcher;
    }
    auto completer = std::make_shared<Completer>(call);
    dispatcher->post([record, completer, hwnd, msg, wParam, lParam] {
        if (!record->isAlive() || !record->proc)
            return;
        completer->call->finish(record->proc(hwnd, msg, wParam, lParam));
    });
    completer.reset();

    if (call->senderQueue) {
        // A sender that owns windows of its own keeps serving them while it waits,
        // so two threads sending to each other cannot deadlock.
        call->senderQueue->runUntil([&] { return call->isDone(); });
    } else {
        std::unique_lock lock(call->mutex);
        call->cv.wait(lock, [&] { return call->done; });
    }
    {
        std::lock_guard lock(record->mutex);
        std::erase(record->pending, call);
    }
    return call->result;
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto record = lookup(hwnd);
    std::shared_ptr<MessageDispatcher> dispatcher;
    if (record) {
        std::lock_guard lock(record->mutex);
        if (record->alive)
            dispatcher = record->dispatcher;
    }
    if (!dispatcher)
        return FALSE;
    dispatcher->post([record, hwnd, msg, wParam, lParam] {
        if (record->isAlive() && record->proc)
            record->proc(hwnd, msg, wParam, lParam);
    });
    return TRUE;
}

} // namespace win32
