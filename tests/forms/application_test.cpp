#include "platform/forms/application.h"
#include "platform/forms/controls.h"
#include "platform/forms/errors.h"

#include "qtwidgets.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

using namespace forms;
using namespace std::chrono_literals;

namespace {

bool OnGuiThread()
{
    return QThread::currentThread() == qApp->thread();
}

// Answers the next message box that comes up, from inside its own modal loop.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(std::function<void(QMessageBox *)> answer)
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this, answer = std::move(answer)] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            timer_.stop();
            title = box->windowTitle().toStdString();
            text = box->text().toStdString();
            buttons = box->standardButtons();
            icon = box->icon();
            answer(box);
        });
        timer_.start();
    }
    std::string title;
    std::string text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;

private:
    QTimer timer_;
};

void ClickButton(QMessageBox *box, QMessageBox::StandardButton which)
{
    QAbstractButton *button = box->button(which);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

TEST(ErrorHandler, AnErrorEscapingAnEventHandlerIsShownWithItsTextAndTheProgramGoesOn)
{
    testsupport::MessageBoxRecorder boxes;
    Application()->SetTitle("Tessary");
    QWidget window;
    window.resize(100, 100);
    auto *image = new TImage(&window);
    image->setGeometry(10, 10, 50, 50);
    int clicks = 0;
    image->OnClick = [&](QObject *) {
        ++clicks;
        throw EConvertError::invalidInteger("abc");
    };
    testsupport::ShowWindow(&window);
    testsupport::Click(image, {5, 5});
    testsupport::Click(image, {6, 6});
    EXPECT_EQ(clicks, 2);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "'abc' is not a valid integer value");
    EXPECT_EQ(shown[0].caption, "Tessary");
    EXPECT_EQ(shown[0].type, win32::MB_OK | win32::MB_ICONERROR);
}

TEST(MessageBoxes, ABoxAskedByAWorkerIsShownOnTheGuiThreadAndTheWorkerGetsTheAnswer)
{
    std::atomic<bool> shownOnGui{false};
    BoxAnswerer answerer([&](QMessageBox *box) {
        shownOnGui = OnGuiThread();
        ClickButton(box, QMessageBox::Yes);
    });
    auto answer = std::async(std::launch::async, [] {
        return win32::MessageBoxA(nullptr, "Download it now?", "Confirm",
                                  win32::MB_YESNO | win32::MB_ICONQUESTION);
    });
    while (answer.wait_for(0ms) != std::future_status::ready)
        QTest::qWait(5);
    EXPECT_EQ(answer.get(), win32::IDYES);
    EXPECT_TRUE(shownOnGui);
    EXPECT_EQ(answerer.title, "Confirm");
    EXPECT_EQ(answerer.text, "Download it now?");
    EXPECT_EQ(answerer.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(answerer.icon, QMessageBox::Question);
}

// A name too long for a line, without blanks, was cut off at the box's edge:
// it breaks there now, and what is copied from the box is the name.
TEST(MessageBoxes, ANameTooLongForALineBreaksAndIsCopiedWhole)
{
    const std::string name = "/home/ann/" + std::string(240, 'x') + "-end.jpg";
    const std::string text = "Cannot read the picture \"" + name + "\": Permission denied";
    bool fits = false;
    QString copied;
    BoxAnswerer answerer([&](QMessageBox *box) {
        const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 100000),
                                                               Qt::TextWordWrap, label->text());
        fits = needed.width() <= label->width() && needed.height() <= label->height();
        // As a copy of the label's text, selected, puts it.
        QGuiApplication::clipboard()->setText(label->text());
        copied = QGuiApplication::clipboard()->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(win32::MessageBoxA(nullptr, text.c_str(), "", win32::MB_OK), win32::IDOK);
    EXPECT_TRUE(fits);
    EXPECT_EQ(copied.toStdString(), text);

    // A path of parts of usual length breaks after its slashes, as it always
    // did: nothing is put into it.
    const std::string path = "Cannot read \"/home/ann/Pictures/2024/"
                             "summer-holiday-in-the-mountains-with-ann/IMG_20240101_123456.jpg\"";
    BoxAnswerer plain([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    win32::MessageBoxA(nullptr, path.c_str(), "", win32::MB_OK);
    EXPECT_EQ(plain.text, path);
}

TEST(MessageBoxes, TheSecondButtonCanBeTheDefault)
{
    BoxAnswerer answerer([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(win32::MessageBoxA(nullptr, "Go on?", "", win32::MB_OKCANCEL | win32::MB_DEFBUTTON2),
              win32::IDCANCEL);
    EXPECT_EQ(answerer.buttons, QMessageBox::Ok | QMessageBox::Cancel);

    BoxAnswerer again([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(win32::MessageBoxA(nullptr, "Done.", "", win32::MB_OK), win32::IDOK);
}

// A question with buttons of its own and the common Cancel: Escape and the
// window's close answer Cancel, not OK; Return answers the default.
TEST(MessageBoxes, ATaskDialogsCancelButtonAnswersEscape)
{
    win32::TASKDIALOGCONFIG config;
    config.pszMainInstruction = "Save the changes?";
    config.dwCommonButtons = win32::TDCBF_CANCEL_BUTTON;
    config.pButtons = {{win32::IDYES, "Save"}, {win32::IDNO, "Don't Save"}};
    config.nDefaultButton = win32::IDYES;
    auto ask = [&config] {
        int pressed = 0;
        win32::TaskDialogIndirect(config, &pressed);
        return pressed;
    };
    // A box that stays open is ended, so that the test fails instead of hanging.
    auto ended = [](QMessageBox *box) {
        if (box->isVisible())
            box->done(0);
    };
    BoxAnswerer escape([&](QMessageBox *box) {
        QTest::keyClick(box, Qt::Key_Escape);
        ended(box);
    });
    EXPECT_EQ(ask(), win32::IDCANCEL);
    EXPECT_EQ(escape.buttons, QMessageBox::Cancel);
    BoxAnswerer closed([&](QMessageBox *box) {
        box->close();
        ended(box);
    });
    EXPECT_EQ(ask(), win32::IDCANCEL);
    BoxAnswerer enter([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(ask(), win32::IDYES);
    BoxAnswerer dontSave([](QMessageBox *box) {
        for (QAbstractButton *button : box->buttons())
            if (button->text() == "Don't Save")
                QTest::mouseClick(button, Qt::LeftButton);
    });
    EXPECT_EQ(ask(), win32::IDNO);
}

TEST(MessageBoxes, AWorkersBoxComesUpWhileTheGuiThreadSitsInAModalDialog)
{
    QDialog dialog;
    std::future<int> answer;
    BoxAnswerer answerer([&](QMessageBox *box) { ClickButton(box, QMessageBox::No); });
    QTimer::singleShot(0, &dialog, [&] {
        answer = std::async(std::launch::async, [&] {
            const int result = win32::MessageBoxA(nullptr, "Again?", "", win32::MB_YESNO);
            QMetaObject::invokeMethod(&dialog, &QDialog::accept, Qt::QueuedConnection);
            return result;
        });
    });
    dialog.exec();
    EXPECT_EQ(answer.get(), win32::IDNO);
    EXPECT_EQ(answerer.text, "Again?");
}

namespace {

// A window of the GUI thread that records the messages it is sent.
struct GuiWindow
{
    QWidget widget;
    HWND hwnd = nullptr;
    std::atomic<int> calls{0};
    std::atomic<bool> onGui{true};
    std::function<void()> onMessage;

    GuiWindow()
    {
        hwnd = AllocateHandle(&widget, [this](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
            ++calls;
            if (!OnGuiThread())
                onGui = false;
            if (onMessage)
                onMessage();
            return static_cast<LRESULT>(msg - win32::WM_USER) * 1000 + static_cast<LRESULT>(w);
        });
    }
};

} // namespace

TEST(GuiDispatcher, AWorkersSendRunsOnTheGuiThreadWhileAMessageBoxIsOpen)
{
    GuiWindow window;
    std::future<std::vector<LRESULT>> results;
    std::atomic<bool> boxWasOpen{false};
    window.onMessage = [&] {
        if (qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            boxWasOpen = true;
    };
    // Once the box is up, a worker sends three messages; the box is closed when
    // all three have come back.
    BoxAnswerer answerer([&](QMessageBox *box) {
        results = std::async(std::launch::async, [&window, box] {
            std::vector<LRESULT> r;
            for (WPARAM i = 1; i <= 3; ++i)
                r.push_back(win32::SendMessageA(window.hwnd, win32::WM_USER + 2, i, 0));
            QMetaObject::invokeMethod(
                box, [box] { box->button(QMessageBox::Ok)->click(); }, Qt::QueuedConnection);
            return r;
        });
    });
    EXPECT_EQ(win32::MessageBoxA(nullptr, "Rendering", "", win32::MB_OK), win32::IDOK);
    EXPECT_EQ(results.get(), (std::vector<LRESULT>{2001, 2002, 2003}));
    EXPECT_EQ(window.calls, 3);
    EXPECT_TRUE(window.onGui);
    EXPECT_TRUE(boxWasOpen);
}

TEST(GuiDispatcher, AWorkersSendRunsWhileTheGuiThreadSitsInDialogExec)
{
    GuiWindow window;
    QDialog dialog;
    std::future<LRESULT> result;
    window.onMessage = [&] {
        if (dialog.isVisible())
            dialog.accept();
    };
    QTimer::singleShot(0, &dialog, [&] {
        result = std::async(std::launch::async,
                            [&] { return win32::SendMessageA(window.hwnd, win32::WM_USER, 7, 0); });
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(result.get(), 7);
    EXPECT_TRUE(window.onGui);
}

TEST(GuiDispatcher, PostedMessagesRunLaterOnTheGuiThread)
{
    GuiWindow window;
    std::thread([&] {
        EXPECT_EQ(win32::PostMessageA(window.hwnd, win32::WM_USER + 1001, 0, 0), TRUE);
    }).join();
    EXPECT_EQ(window.calls, 0);
    EXPECT_EQ(win32::PostMessageA(window.hwnd, win32::WM_USER + 1001, 0, 0), TRUE);
    EXPECT_EQ(window.calls, 0); // not even from the GUI thread itself
    QTRY_COMPARE(window.calls.load(), 2);
    EXPECT_TRUE(window.onGui);
}

TEST(GuiDispatcher, AnErrorInAWindowProcedureReachesTheErrorHandlerAndTheSenderGetsZero)
{
    testsupport::MessageBoxRecorder boxes;
    GuiWindow window;
    window.onMessage = [] { throw EIniFileException::forFile("/x/param.ini"); };
    auto result = std::async(
        std::launch::async, [&] { return win32::SendMessageA(window.hwnd, win32::WM_USER, 1, 0); });
    while (result.wait_for(0ms) != std::future_status::ready)
        QTest::qWait(5);
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Unable to write to /x/param.ini"});
}
