// The application object and the GUI thread's services.
//
// TApplication is the program's QApplication. While it lives:
// - an error that escapes an event handler is shown in a message box with its
//   text (what()), captioned with the application's title, and the program
//   goes on;
// - the message-box service of platform/win32 shows a QMessageBox, always on the
//   GUI thread: a worker that asks for a box waits until the user answers;
// - windows made on the GUI thread (win32::CreateWindowHandle) take their
//   cross-thread messages through the Qt event loop, so a SendMessageA from a
//   worker runs the window procedure on the GUI thread while the worker waits,
//   also while the GUI thread sits in a modal dialog.
#pragma once

#include "platform/win32/messagebox.h"
#include "platform/win32/window.h"

#include <QApplication>

#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace forms {

class TApplication : public QApplication
{
public:
    // Must be made on the thread that will run the event loop, before any window
    // handle of that thread.
    TApplication(int &argc, char **argv);
    ~TApplication() override;

    bool notify(QObject *receiver, QEvent *event) override;

    // The general error handler: OnException when assigned, otherwise
    // ShowException with the error's text. GUI thread only.
    void HandleException(const std::exception_ptr &error);
    void ShowException(const std::string &message);

    // Caption of the error boxes; the program file's name until set.
    const std::string &Title() const { return title_; }
    void SetTitle(const std::string &title) { title_ = title; }

    std::function<void(const std::string &message)> OnException;

private:
    std::string title_;
    win32::MessageBoxHandler previousHandler_;
    win32::TaskDialogHandler previousTaskHandler_;
    std::shared_ptr<win32::MessageDispatcher> previousDispatcher_;
};

// The application object, or null while there is none.
TApplication *Application();

// Hands an error to the application's error handler (stderr without one). Event
// handlers of the framework's controls catch their errors and come here, so that
// no error unwinds through Qt's own event delivery. GUI thread only.
void HandleException(const std::exception_ptr &error);

// True on the thread of the Qt application object.
bool IsGuiThread();

// Runs `task` on the GUI thread from its event loop (also from modal loops).
// When there is no application object, or it goes away before the task has run,
// the task is destroyed without running.
void PostToGuiThread(std::function<void()> task);

// Runs `task` on the GUI thread and waits for it: directly when called on the
// GUI thread, on the calling thread when there is no application object. An
// error raised by the task is raised again here. Returns false when the task was
// dropped without running.
bool RunOnGuiThread(const std::function<void()> &task);

// Runs the tasks posted for the GUI thread so far; GUI thread only. A GUI thread
// that must block on a worker calls this while it waits, so that the worker's
// synchronised calls and messages cannot deadlock it.
void ProcessGuiTasks();

// The dispatcher of the GUI thread's windows: runs each task from the Qt event
// loop. TApplication installs it for its thread.
std::shared_ptr<win32::MessageDispatcher> MakeGuiDispatcher();

// The handler for win32::SetMessageBoxHandler: a QMessageBox on the GUI thread
// with the buttons and icon of `type`, owned by the control of `owner` (or the
// active window); answers IDOK, IDCANCEL, IDYES or IDNO. TApplication installs it.
int ShowMessageBox(HWND owner, const std::string &text, const std::string &caption, UINT type);

// The handler for win32::SetTaskDialogHandler: the same box with the dialog's
// own buttons, on the GUI thread.
int ShowTaskDialog(const win32::TASKDIALOGCONFIG &config);

// Closes the open message boxes of `owner` that show `text`, as Escape would
// answer them: for a box whose question is no longer asked.
void CloseMessageBoxes(HWND owner, const std::string &text);

} // namespace forms
