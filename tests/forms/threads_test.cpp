#include "platform/forms/application.h"
#include "platform/forms/errors.h"
#include "platform/forms/threads.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

using namespace forms;
using namespace std::chrono_literals;

namespace {

// A thread whose body is given by the test.
class BodyThread : public TThread
{
public:
    explicit BodyThread(std::function<void(BodyThread &)> body,
                        std::atomic<bool> *destroyed = nullptr)
        : body_(std::move(body))
        , destroyed_(destroyed)
    {}
    ~BodyThread() override
    {
        if (destroyed_)
            *destroyed_ = true;
    }
    using TThread::SetReturnValue;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(BodyThread &)> body_;
    std::atomic<bool> *destroyed_;
};

bool OnGuiThread()
{
    return QThread::currentThread() == qApp->thread();
}

} // namespace

TEST(Thread, ExecuteWaitsForStart)
{
    std::atomic<bool> ran{false};
    BodyThread thread([&](BodyThread &) { ran = true; });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(ran);
    thread.Start();
    thread.WaitFor();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(thread.Finished());
}

TEST(Thread, DeletingAThreadThatNeverStartedRunsNoBody)
{
    std::atomic<bool> ran{false};
    {
        BodyThread thread([&](BodyThread &) { ran = true; });
    }
    EXPECT_FALSE(ran);
}

TEST(Thread, SynchronizeRunsOnTheGuiThreadWhileTheWorkerWaits)
{
    std::atomic<bool> ranOnGui{false};
    int value = 0;
    int seenAfter = -1;
    BodyThread thread([&](BodyThread &) {
        TThread::Synchronize([&] {
            ranOnGui = OnGuiThread();
            value = 1;
        });
        seenAfter = value;
    });
    thread.Start();
    QTRY_VERIFY(thread.Finished());
    thread.WaitFor();
    EXPECT_TRUE(ranOnGui);
    EXPECT_EQ(seenAfter, 1);
}

TEST(Thread, AnErrorOfASynchronisedMethodIsRaisedInTheWorker)
{
    std::string caught;
    BodyThread thread([&](BodyThread &) {
        try {
            TThread::Synchronize([] { throw EConvertError::invalidInteger("x"); });
        } catch (const EConvertError &e) {
            caught = e.what();
        }
    });
    thread.Start();
    thread.WaitFor(); // on the GUI thread: serves the synchronised call meanwhile
    EXPECT_EQ(caught, "'x' is not a valid integer value");
}

TEST(Thread, WaitForOnTheGuiThreadKeepsSynchronisedCallsGoing)
{
    int calls = 0;
    BodyThread thread([&](BodyThread &self) {
        for (int i = 0; i < 5; ++i)
            TThread::Synchronize([&] { ++calls; });
        self.SetReturnValue(7);
    });
    thread.Start();
    EXPECT_EQ(thread.WaitFor(), 7);
    EXPECT_EQ(calls, 5);
}

TEST(Thread, AnErrorEscapingExecuteIsKeptAsTheFatalException)
{
    BodyThread thread([](BodyThread &) { throw std::runtime_error("boom"); });
    thread.Start();
    thread.WaitFor();
    ASSERT_TRUE(thread.FatalException());
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::runtime_error);
}

TEST(Thread, FreeOnTerminateDeletesTheObjectAfterOnTerminate)
{
    std::atomic<bool> destroyed{false};
    std::atomic<bool> terminatedOnGui{false};
    std::atomic<bool> destroyedBeforeOnTerminate{false};
    auto *thread = new BodyThread([](BodyThread &) {}, &destroyed);
    thread->SetFreeOnTerminate(true);
    thread->OnTerminate = [&](TThread *) {
        terminatedOnGui = OnGuiThread();
        destroyedBeforeOnTerminate = destroyed.load();
    };
    thread->Start();
    QTRY_VERIFY(destroyed);
    EXPECT_TRUE(terminatedOnGui);
    EXPECT_FALSE(destroyedBeforeOnTerminate);
}

TEST(Thread, AFreeingThreadHandsAnEscapedErrorToTheApplication)
{
    std::vector<std::string> shown;
    Application()->OnException = [&](const std::string &text) {
        EXPECT_TRUE(OnGuiThread());
        shown.push_back(text);
    };
    std::atomic<bool> destroyed{false};
    auto *thread = new BodyThread(
        [](BodyThread &) { throw EThread("Thread creation error: Resource busy"); }, &destroyed);
    thread->SetFreeOnTerminate(true);
    thread->Start();
    QTRY_VERIFY(destroyed);
    Application()->OnException = nullptr;
    EXPECT_EQ(shown, std::vector<std::string>{"Thread creation error: Resource busy"});
}

TEST(Thread, SynchronizeIsServedWhileTheGuiThreadSitsInAModalDialog)
{
    QDialog dialog;
    std::atomic<bool> ranInDialog{false};
    auto *thread = new BodyThread([&](BodyThread &) {
        TThread::Synchronize([&] {
            ranInDialog = dialog.isVisible() && OnGuiThread();
            dialog.accept();
        });
    });
    thread->SetFreeOnTerminate(true);
    QTimer::singleShot(0, &dialog, [thread] { thread->Start(); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(ranInDialog);
}
