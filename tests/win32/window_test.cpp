#include "platform/win32/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

using namespace win32;
using namespace std::chrono_literals;

namespace {

// A thread that owns one window and pumps its queue until told to stop.
class OwnerThread
{
public:
    explicit OwnerThread(WindowProc proc)
    {
        std::promise<HWND> made;
        auto ready = made.get_future();
        thread_ = std::thread([this, proc = std::move(proc), &made]() mutable {
            id_ = std::this_thread::get_id();
            made.set_value(CreateWindowHandle(std::move(proc)));
            CurrentThreadQueue()->runUntil([this] { return stop_.load(); });
        });
        hwnd_ = ready.get();
    }
    ~OwnerThread()
    {
        stop_ = true;
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    std::thread::id id() const { return id_; }

private:
    std::thread thread_;
    std::thread::id id_;
    HWND hwnd_ = nullptr;
    std::atomic<bool> stop_{false};
};

} // namespace

TEST(WindowMessages, RegisteredNumbersAreSharedAndCaseInsensitive)
{
    const UINT progress = RegisterWindowMessageA("WM_COMPRESS_POSITION");
    EXPECT_GE(progress, 0xC000u);
    EXPECT_EQ(RegisterWindowMessageA("wm_compress_position"), progress);
    UINT fromThread = 0;
    std::thread([&] { fromThread = RegisterWindowMessageA("WM_Compress_Position"); }).join();
    EXPECT_EQ(fromThread, progress);
    EXPECT_NE(RegisterWindowMessageA("QUILLON_OTHER_MESSAGE"), progress);
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
    EXPECT_EQ(RegisterWindowMessageA(nullptr), 0u);
}

TEST(WindowMessages, SendOnOwningThreadCallsProcedureDirectly)
{
    std::vector<UINT> seen;
    HWND hwnd = CreateWindowHandle([&](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        seen.push_back(msg);
        return static_cast<LRESULT>(w + l);
    });
    EXPECT_EQ(SendMessageA(hwnd, WM_USER + 5, 40, 2), 42);
    ASSERT_EQ(seen.size(), 1u); // no pumping was needed
    EXPECT_EQ(seen[0], WM_USER + 5);
    EXPECT_TRUE(DestroyWindowHandle(hwnd));
    EXPECT_FALSE(DestroyWindowHandle(hwnd));
}

TEST(WindowMessages, NullAndDestroyedHandlesAnswerZero)
{
    EXPECT_EQ(SendMessageA(nullptr, WM_USER, 1, 1), 0);
    EXPECT_EQ(SendMessageA(reinterpret_cast<HWND>(0x1234), WM_USER, 1, 1), 0);
    int calls = 0;
    HWND hwnd = CreateWindowHandle([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++calls; });
    DestroyWindowHandle(hwnd);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(calls, 0);
}

TEST(WindowProperties, TravelWithTheWindowAndGoWithIt)
{
    int value = 0;
    HWND hwnd = CreateWindowHandle({});
    EXPECT_TRUE(SetPropA(hwnd, "QWidget", &value));
    EXPECT_EQ(GetPropA(hwnd, "qwidget"), &value);
    EXPECT_EQ(GetPropA(hwnd, "Other"), nullptr);
    EXPECT_FALSE(SetPropA(hwnd, "", &value));
    EXPECT_FALSE(SetPropA(nullptr, "QWidget", &value));
    // Seen from another thread as well.
    void *fromThread = nullptr;
    std::thread([&] { fromThread = GetPropA(hwnd, "QWidget"); }).join();
    EXPECT_EQ(fromThread, &value);

    EXPECT_EQ(RemovePropA(hwnd, "QWIDGET"), &value);
    EXPECT_EQ(GetPropA(hwnd, "QWidget"), nullptr);
    SetPropA(hwnd, "QWidget", &value);
    DestroyWindowHandle(hwnd);
    EXPECT_EQ(GetPropA(hwnd, "QWidget"), nullptr);
    EXPECT_FALSE(SetPropA(hwnd, "QWidget", &value));
}

TEST(WindowMessages, CrossThreadSendRunsOnOwnerInOrderAndBlocksSender)
{
    std::mutex mutex;
    std::vector<WPARAM> order;
    std::vector<std::thread::id> threads;
    std::atomic<int> finished{0};
    OwnerThread owner([&](HWND, UINT, WPARAM w, LPARAM) -> LRESULT {
        std::this_thread::sleep_for(30ms);
        std::lock_guard lock(mutex);
        order.push_back(w);
        threads.push_back(std::this_thread::get_id());
        finished = static_cast<int>(order.size());
        return static_cast<LRESULT>(w * 10);
    });

    std::thread sender([&] {
        for (WPARAM i = 1; i <= 3; ++i) {
            EXPECT_EQ(SendMessageA(owner.hwnd(), WM_USER, i, 0), static_cast<LRESULT>(i * 10));
            // The procedure has finished by the time the send returns.
            EXPECT_EQ(finished.load(), static_cast<int>(i));
        }
    });
    sender.join();

    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3}));
    for (auto id : threads)
        EXPECT_EQ(id, owner.id());
}

TEST(WindowMessages, CopyDataReachesTheOwnerWhileSenderWaits)
{
    std::string received;
    OwnerThread owner([&](HWND, UINT msg, WPARAM, LPARAM l) -> LRESULT {
        if (msg != WM_COPYDATA)
            return 0;
        auto *cds = reinterpret_cast<const COPYDATASTRUCT *>(l);
        received.assign(static_cast<const char *>(cds->lpData), cds->cbData);
        return static_cast<LRESULT>(cds->dwData);
    });
    std::string block("\x03\x00\x00\x00payload", 11);
    COPYDATASTRUCT cds{77, static_cast<DWORD>(block.size()), block.data()};
    LRESULT result = 0;
    std::thread([&] {
        result = SendMessageA(owner.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    }).join();
    EXPECT_EQ(result, 77);
    EXPECT_EQ(received, block);
}

TEST(WindowMessages, DestroyingTheWindowReleasesAWaitingSender)
{
    // The owner never pumps, so the message can only end through destruction.
    HWND hwnd = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 5; });
    auto pending
        = std::async(std::launch::async, [&] { return SendMessageA(hwnd, WM_USER, 0, 0); });
    EXPECT_EQ(pending.wait_for(100ms), std::future_status::timeout);
    DestroyWindowHandle(hwnd);
    ASSERT_EQ(pending.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(pending.get(), 0);
    CurrentThreadQueue()->processPending(); // the late task finds no window
}

TEST(WindowMessages, OwnerThreadEndingReleasesAWaitingSender)
{
    std::promise<HWND> made;
    std::promise<void> go;
    std::thread owner([&] {
        made.set_value(CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 9; }));
        go.get_future().wait(); // ends without ever pumping its queue
    });
    HWND hwnd = made.get_future().get();
    auto pending
        = std::async(std::launch::async, [&] { return SendMessageA(hwnd, WM_USER, 0, 0); });
    std::this_thread::sleep_for(50ms);
    go.set_value();
    owner.join();
    ASSERT_EQ(pending.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(pending.get(), 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(WindowMessages, TwoThreadsSendingToEachOtherDoNotDeadlock)
{
    std::promise<HWND> aMade, bMade;
    auto aFuture = aMade.get_future().share();
    auto bFuture = bMade.get_future().share();
    auto run = [](std::promise<HWND> &mine, std::shared_future<HWND> theirs) {
        HWND self = CreateWindowHandle(
            [](HWND, UINT, WPARAM w, LPARAM) -> LRESULT { return static_cast<LRESULT>(w + 1); });
        mine.set_value(self);
        LRESULT r = SendMessageA(theirs.get(), WM_USER, 41, 0);
        // Keep serving until the other side is done with us too.
        CurrentThreadQueue()->waitAndProcess(200ms);
        DestroyWindowHandle(self);
        return r;
    };
    auto a = std::async(std::launch::async, run, std::ref(aMade), bFuture);
    auto b = std::async(std::launch::async, run, std::ref(bMade), aFuture);
    ASSERT_EQ(a.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(b.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(a.get(), 42);
    EXPECT_EQ(b.get(), 42);
}

TEST(WindowMessages, PostedMessagesWaitForTheOwnersLoop)
{
    std::vector<WPARAM> seen;
    HWND hwnd = CreateWindowHandle([&](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
        if (msg == 2025)
            seen.push_back(w);
        return 0;
    });
    EXPECT_TRUE(PostMessageA(hwnd, 2025, 1, 0));
    std::thread([&] { PostMessageA(hwnd, 2025, 2, 0); }).join();
    EXPECT_TRUE(seen.empty());
    CurrentThreadQueue()->processPending();
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));
    DestroyWindowHandle(hwnd);
}
