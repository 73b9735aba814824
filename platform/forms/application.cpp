#include "platform/forms/application.h"

#include "platform/forms/controls.h"
#include "platform/forms/errors.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QThread>

#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace forms {

namespace {

std::mutex g_appMutex;
TApplication *g_application = nullptr;
// Receives the tasks posted for the GUI thread; deleting it drops the tasks
// that have not run yet.
QObject *g_taskReceiver = nullptr;

// A task that runs on the GUI thread while another thread waits for it. The
// waiter is released when the task object dies, whether it ran or was dropped.
struct WaitedCall
{
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ran = false;
    std::exception_ptr error;
};

struct CallRelease
{
    explicit CallRelease(std::shared_ptr<WaitedCall> c)
        : call(std::move(c))
    {}
    CallRelease(const CallRelease &) = delete;
    CallRelease &operator=(const CallRelease &) = delete;
    std::shared_ptr<WaitedCall> call;
    ~CallRelease()
    {
        {
            std::lock_guard lock(call->mutex);
            call->done = true;
        }
        call->cv.notify_all();
    }
};

class GuiDispatcher : public win32::MessageDispatcher
{
public:
    void post(std::function<void()> task) override { PostToGuiThread(std::move(task)); }
};

} // namespace

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
    , title_(QCoreApplication::applicationName().toStdString())
{
    // QApplication has set the C library to the user's locale. The program's
    // texts are English and UTF-8, and so must be the system's reasons put into
    // them (strerror follows LC_MESSAGES, in the locale's own character set, as
    // quillon-render's never do); and FFmpeg and the encoders it loads print and
    // read numbers through the C library, with the decimal point the movie's
    // files must hold. Qt's own QLocale, which shows numbers to the user, keeps
    // the user's locale.
    std::setlocale(LC_MESSAGES, "C");
    std::setlocale(LC_NUMERIC, "C");
    {
        std::lock_guard lock(g_appMutex);
        g_application = this;
        g_taskReceiver = new QObject;
    }
    previousHandler_ = win32::SetMessageBoxHandler(ShowMessageBox);
    previousTaskHandler_ = win32::SetTaskDialogHandler(ShowTaskDialog);
    previousDispatcher_ = win32::ThreadDispatcher();
    win32::SetThreadDispatcher(MakeGuiDispatcher());
}

TApplication::~TApplication()
{
    win32::SetMessageBoxHandler(std::move(previousHandler_));
    win32::SetTaskDialogHandler(std::move(previousTaskHandler_));
    QObject *receiver = nullptr;
    {
        std::lock_guard lock(g_appMutex);
        g_application = nullptr;
        receiver = g_taskReceiver;
        g_taskReceiver = nullptr;
    }
    // Drops what is still queued, which releases every waiting worker.
    delete receiver;
    win32::SetThreadDispatcher(std::move(previousDispatcher_));
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        forms::HandleException(std::current_exception());
        return false;
    }
}

void TApplication::HandleException(const std::exception_ptr &error)
{
    const std::string message = MessageOf(error);
    if (OnException)
        OnException(message);
    else
        ShowException(message);
}

void TApplication::ShowException(const std::string &message)
{
    HWND owner = nullptr;
    if (QWidget *active = QApplication::activeWindow())
        owner = HandleOf(active);
    win32::MessageBoxA(owner, message.c_str(), title_.c_str(), win32::MB_OK | win32::MB_ICONERROR);
}

void HandleException(const std::exception_ptr &error)
{
    try {
        if (TApplication *app = Application())
            app->HandleException(error);
        else
            std::fprintf(stderr, "%s\n", MessageOf(error).c_str());
    } catch (...) {
        // The handler's own failure (out of memory, say) must not end the program.
    }
}

TApplication *Application()
{
    std::lock_guard lock(g_appMutex);
    return g_application;
}

bool IsGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void PostToGuiThread(std::function<void()> task)
{
    std::lock_guard lock(g_appMutex);
    QObject *receiver = g_taskReceiver ? g_taskReceiver : QCoreApplication::instance();
    if (!receiver)
        return; // `task` dies here, which completes whatever waits on it
    QMetaObject::invokeMethod(
        receiver,
        [task = std::move(task)] {
            try {
                task();
            } catch (...) {
                HandleException(std::current_exception());
            }
        },
        Qt::QueuedConnection);
}

bool RunOnGuiThread(const std::function<void()> &task)
{
    if (IsGuiThread() || !QCoreApplication::instance()) {
        task();
        return true;
    }
    auto call = std::make_shared<WaitedCall>();
    auto release = std::make_shared<CallRelease>(call);
    PostToGuiThread([release, &task] {
        WaitedCall &c = *release->call;
        std::exception_ptr error;
        try {
            task();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(c.mutex);
        c.ran = true;
        c.error = error;
    });
    release.reset();

    std::unique_lock lock(call->mutex);
    call->cv.wait(lock, [&] { return call->done; });
    // Taken out under the lock, so that the error is let go of on this thread.
    const std::exception_ptr error = std::move(call->error);
    const bool ran = call->ran;
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
    return ran;
}

void ProcessGuiTasks()
{
    QObject *receiver = nullptr;
    {
        std::lock_guard lock(g_appMutex);
        receiver = g_taskReceiver ? g_taskReceiver : QCoreApplication::instance();
    }
    if (receiver && IsGuiThread())
        QCoreApplication::sendPostedEvents(receiver, QEvent::MetaCall);
}

std::shared_ptr<win32::MessageDispatcher> MakeGuiDispatcher()
{
    return std::make_shared<GuiDispatcher>();
}

namespace {

// The system's message boxes break a word too long for a line (a long file
// name without blanks) at the box's edge; Qt's label breaks only between
// words, and cut such a word off. A zero-width space after each character of
// a long part of a word (between slashes, so that a path still breaks after
// one) gives it places to break; what is copied from the box goes to the
// clipboard without them, so that a name pasted elsewhere is the name.
class MessageBox final : public QMessageBox
{
public:
    MessageBox(Icon icon, const QString &title, const QString &text, StandardButtons buttons,
               QWidget *parent)
        : QMessageBox(icon, title, Breakable(text), buttons, parent)
    {
        QClipboard *clipboard = QGuiApplication::clipboard();
        if (!clipboard || this->text() == text)
            return;
        // Only what came from this box: a copy elsewhere meanwhile is left be.
        connect(clipboard, &QClipboard::changed, this, [clipboard, text](QClipboard::Mode mode) {
            QString copied = clipboard->text(mode);
            if (copied.contains(QChar(0x200B)) && text.contains(copied.remove(QChar(0x200B))))
                clipboard->setText(copied, mode);
        });
    }

    static QString Breakable(const QString &text)
    {
        constexpr qsizetype kLongPart = 60; // about two thirds of a line of the box
        const QChar space(0x200B);
        // A text that holds one already keeps its own: what is copied could
        // not be told from it.
        if (text.contains(space))
            return text;
        QString out;
        out.reserve(text.size());
        // The parts of words between blanks and slashes: a path breaks after a
        // slash as it always has; only a part too long for a line gets places
        // to break.
        qsizetype part = 0;
        const auto flush = [&](qsizetype end) {
            const QString piece = text.mid(part, end - part);
            if (piece.size() <= kLongPart) {
                out += piece;
                return;
            }
            QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, piece);
            qsizetype from = 0;
            for (qsizetype at = graphemes.toNextBoundary(); at > 0;
                 at = graphemes.toNextBoundary()) {
                out += piece.mid(from, at - from);
                if (at < piece.size())
                    out += space;
                from = at;
            }
        };
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i].isSpace() || text[i] == QLatin1Char('/')) {
                flush(i);
                out += text[i];
                part = i + 1;
            }
        }
        flush(text.size());
        return out;
    }
};

int showBoxHere(HWND owner, const std::string &text, const std::string &caption, UINT type)
{
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton first = QMessageBox::Ok;
    QMessageBox::StandardButton second = QMessageBox::NoButton;
    switch (type & win32::MB_TYPEMASK) {
    case win32::MB_OKCANCEL:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        second = QMessageBox::Cancel;
        break;
    case win32::MB_YESNO:
        buttons = QMessageBox::Yes | QMessageBox::No;
        first = QMessageBox::Yes;
        second = QMessageBox::No;
        break;
    default:
        buttons = QMessageBox::Ok;
        break;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & 0xF0) {
    case win32::MB_ICONERROR:
        icon = QMessageBox::Critical;
        break;
    case win32::MB_ICONQUESTION:
        icon = QMessageBox::Question;
        break;
    case win32::MB_ICONWARNING:
        icon = QMessageBox::Warning;
        break;
    case win32::MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    QWidget *parent = FindControl(owner);
    if (!parent)
        parent = QApplication::activeWindow();
    MessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), buttons,
                   parent);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.setDefaultButton((type & win32::MB_DEFBUTTON2) && second != QMessageBox::NoButton ? second
                                                                                          : first);
    const int answer = box.exec();
    switch (answer) {
    case QMessageBox::Ok:
        return win32::IDOK;
    case QMessageBox::Cancel:
        return win32::IDCANCEL;
    case QMessageBox::Yes:
        return win32::IDYES;
    case QMessageBox::No:
        return win32::IDNO;
    default:
        // Closed without a button: what Escape would answer.
        return win32::EscapeButton(type);
    }
}

} // namespace

int ShowMessageBox(HWND owner, const std::string &text, const std::string &caption, UINT type)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return win32::DefaultButton(type);
    }
    int answer = win32::DefaultButton(type);
    RunOnGuiThread([&] { answer = showBoxHere(owner, text, caption, type); });
    return answer;
}

int ShowTaskDialog(const win32::TASKDIALOGCONFIG &config)
{
    int answer = config.nDefaultButton;
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s\n%s\n", config.pszMainInstruction.c_str(),
                     config.pszContent.c_str());
        return answer ? answer : win32::IDOK;
    }
    RunOnGuiThread([&] {
        QWidget *parent = FindControl(config.hwndParent);
        if (!parent)
            parent = QApplication::activeWindow();
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(config.pszWindowTitle),
                        QString::fromStdString(config.pszMainInstruction), QMessageBox::NoButton,
                        parent);
        box.setTextFormat(Qt::PlainText);
        box.setInformativeText(QString::fromStdString(config.pszContent));
        box.setWindowModality(Qt::ApplicationModal);
        std::vector<std::pair<QAbstractButton *, int>> ids;
        for (const win32::TASKDIALOG_BUTTON &button : config.pButtons)
            ids.emplace_back(box.addButton(QString::fromStdString(button.pszButtonText),
                                           QMessageBox::ActionRole),
                             button.nButtonID);
        if (config.dwCommonButtons & win32::TDCBF_OK_BUTTON)
            ids.emplace_back(box.addButton(QMessageBox::Ok), win32::IDOK);
        if (config.dwCommonButtons & win32::TDCBF_CANCEL_BUTTON)
            ids.emplace_back(box.addButton(QMessageBox::Cancel), win32::IDCANCEL);
        for (const auto &[button, id] : ids)
            if (id == config.nDefaultButton
                || (config.nDefaultButton == 0 && button == ids.front().first))
                box.setDefaultButton(qobject_cast<QPushButton *>(button));
        if (QAbstractButton *cancel = box.button(QMessageBox::Cancel))
            box.setEscapeButton(cancel);
        else if (QAbstractButton *ok = box.button(QMessageBox::Ok))
            box.setEscapeButton(ok);
        box.exec();
        answer = box.button(QMessageBox::Cancel) ? win32::IDCANCEL : win32::IDOK;
        for (const auto &[button, id] : ids)
            if (box.clickedButton() == button)
                answer = id;
    });
    return answer;
}

void CloseMessageBoxes(HWND owner, const std::string &text)
{
    QWidget *parent = FindControl(owner);
    if (!parent)
        return;
    const QString wanted = QString::fromStdString(text);
    for (QMessageBox *box : parent->findChildren<QMessageBox *>())
        if (box->isVisible() && box->text() == wanted)
            box->reject();
}

} // namespace forms
