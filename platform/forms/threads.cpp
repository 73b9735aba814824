#include "platform/forms/threads.h"

#include "platform/forms/application.h"
#include "platform/forms/errors.h"
#include "platform/win32/messagebox.h"

#include <chrono>
#include <system_error>

namespace forms {

TThread::TThread()
{
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error &e) {
        throw EThread::creationFailed(e.code().value());
    }
}

TThread::~TThread()
{
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Freeing itself at the end of its body: nobody is left to join it.
        thread_.detach();
        return;
    }
    bool started = false;
    {
        std::lock_guard lock(mutex_);
        started = started_;
        if (!started)
            abandoned_ = true;
    }
    wake_.notify_all();
    if (started) {
        Terminate();
        WaitFor();
    }
    thread_.join();
}

void TThread::Start()
{
    {
        std::lock_guard lock(mutex_);
        if (started_ || abandoned_)
            return;
        started_ = true;
    }
    wake_.notify_all();
}

int TThread::WaitFor()
{
    if (thread_.get_id() == std::this_thread::get_id())
        throw EThread("Thread Error: a thread cannot wait for itself");
    if (IsGuiThread()) {
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                if (done_ || !started_)
                    break;
                wake_.wait_for(lock, std::chrono::milliseconds(5));
                if (done_)
                    break;
            }
            ProcessGuiTasks();
        }
    } else {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return done_ || !started_; });
    }
    return returnValue_;
}

void TThread::Synchronize(const std::function<void()> &method)
{
    RunOnGuiThread(method);
}

void TThread::DoTerminate()
{
    if (OnTerminate)
        Synchronize([this] { OnTerminate(this); });
}

void TThread::Run()
{
    {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return started_ || abandoned_; });
        if (abandoned_)
            return;
    }
    if (!terminated_) {
        try {
            Execute();
        } catch (...) {
            fatalException_ = std::current_exception();
        }
    }
    const bool freeItself = freeOnTerminate_;
    finished_ = true;
    try {
        DoTerminate();
    } catch (...) {
        if (!fatalException_)
            fatalException_ = std::current_exception();
    }
    if (freeItself) {
        if (fatalException_) {
            const std::exception_ptr error = fatalException_;
            try {
                Synchronize([error] {
                    if (TApplication *app = Application()) {
                        app->HandleException(error);
                        return;
                    }
                    try {
                        std::rethrow_exception(error);
                    } catch (const std::exception &e) {
                        win32::MessageBoxA(nullptr, e.what(), "",
                                           win32::MB_OK | win32::MB_ICONERROR);
                    } catch (...) {
                    }
                });
            } catch (...) {
            }
        }
        delete this;
        return;
    }
    std::lock_guard lock(mutex_);
    done_ = true;
    // Notified under the lock: once a waiter sees done_, it may delete us.
    wake_.notify_all();
}

} // namespace forms
