// Without an application object, and when it goes away: nothing waits forever.
// These tests make and destroy their own forms::TApplication.
#include "platform/forms/application.h"
#include "platform/forms/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

using namespace forms;
using namespace std::chrono_literals;

namespace {

// Forwards to the GUI dispatcher and tells the test when a task went in.
class WatchedDispatcher : public win32::MessageDispatcher
{
public:
    void post(std::function<void()> task) override
    {
        inner_->post(std::move(task));
        posted.set_value();
    }
    std::promise<void> posted;

private:
    std::shared_ptr<win32::MessageDispatcher> inner_ = MakeGuiDispatcher();
};

std::unique_ptr<TApplication> MakeApplication()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "forms_shutdown_tests";
    static char *argv[] = {name, nullptr};
    return std::make_unique<TApplication>(argc, argv);
}

} // namespace

TEST(Shutdown, WithoutAnApplicationSynchronizeRunsOnTheCallingThread)
{
    ASSERT_EQ(Application(), nullptr);
    std::thread::id ranOn;
    std::thread worker([&] { TThread::Synchronize([&] { ranOn = std::this_thread::get_id(); }); });
    const std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(ranOn, workerId);
}

TEST(Shutdown, ASendThatTheGuiThreadNeverRanCompletesWithZeroWhenTheApplicationGoes)
{
    auto app = MakeApplication();
    auto watched = std::make_shared<WatchedDispatcher>();
    auto posted = watched->posted.get_future();
    const auto previous = win32::ThreadDispatcher();
    win32::SetThreadDispatcher(watched);
    std::atomic<int> calls{0};
    HWND hwnd = win32::CreateWindowHandle([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        ++calls;
        return 5;
    });
    win32::SetThreadDispatcher(previous);

    auto result = std::async(std::launch::async,
                             [hwnd] { return win32::SendMessageA(hwnd, win32::WM_USER, 0, 0); });
    ASSERT_EQ(posted.wait_for(10s), std::future_status::ready);
    app.reset(); // the event loop never ran
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(calls, 0);
    win32::DestroyWindowHandle(hwnd);
}

TEST(Shutdown, AWorkerWaitingForASynchronisedCallIsReleasedWhenTheApplicationGoes)
{
    auto app = MakeApplication();
    std::promise<void> waiting;
    auto done = std::async(std::launch::async, [&] {
        waiting.set_value();
        TThread::Synchronize([] {});
    });
    waiting.get_future().wait();
    std::this_thread::sleep_for(50ms); // let the call reach the queue
    app.reset();
    // Queued and dropped, or (on a slow machine) too late for the application
    // and run on the worker: either way the worker goes on.
    EXPECT_EQ(done.wait_for(10s), std::future_status::ready);
}
