// The message-box service: one MessageBoxA for the whole process, answered by a
// replaceable handler. The program installs one that shows a real dialog on the
// GUI thread; headless tools keep the default, which prints the text to stderr.
#pragma once

#include "platform/win32/types.h"

#include <functional>
#include <string>
#include <vector>

namespace win32 {

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_TYPEMASK = 0xF;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using MessageBoxHandler = std::function<int(HWND owner, const std::string &text,
                                            const std::string &caption, UINT type)>;

// Installs `handler` (an empty one restores the default) and returns the previous one.
QUILLON_WIN32_API MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The button a box of this type answers when nobody can press one.
QUILLON_WIN32_API int DefaultButton(UINT type);

// The button a box of this type answers when it is closed without one (its
// way out, as Escape): No, Cancel or OK.
QUILLON_WIN32_API int EscapeButton(UINT type);

// Null text or caption count as empty.
QUILLON_WIN32_API int MessageBoxA(HWND owner, const char *text, const char *caption, UINT type);

// While it lives, `before` runs on the thread that made it just before each
// message box that thread shows (a box waits for somebody; what the thread
// holds that others wait for can be let go first). The one made last counts.
class QUILLON_WIN32_API BeforeMessageBoxOnThisThread
{
public:
    explicit BeforeMessageBoxOnThisThread(std::function<void()> before);
    ~BeforeMessageBoxOnThisThread();
    BeforeMessageBoxOnThisThread(const BeforeMessageBoxOnThisThread &) = delete;
    BeforeMessageBoxOnThisThread &operator=(const BeforeMessageBoxOnThisThread &) = delete;
    void operator()() const
    {
        if (before_)
            before_();
    }

private:
    std::function<void()> before_;
    BeforeMessageBoxOnThisThread *previous_;
};

// The task dialog: a message box whose buttons say what they do. The common
// OK button closes it, the common Cancel button answers IDCANCEL; each of
// pButtons answers its own nButtonID.
constexpr DWORD TDCBF_OK_BUTTON = 0x1;
constexpr DWORD TDCBF_CANCEL_BUTTON = 0x8;

struct TASKDIALOG_BUTTON
{
    int nButtonID = 0;
    std::string pszButtonText;
};

struct TASKDIALOGCONFIG
{
    HWND hwndParent = nullptr;
    std::string pszWindowTitle;
    std::string pszMainInstruction;
    std::string pszContent;
    DWORD dwCommonButtons = TDCBF_OK_BUTTON;
    std::vector<TASKDIALOG_BUTTON> pButtons;
    int nDefaultButton = IDOK; // 0 too means the first button
};

// Answers with the ID of the button pressed (IDOK for the common OK button, or
// for a dialog closed without a button; IDCANCEL instead when it has the common
// Cancel button).
using TaskDialogHandler = std::function<int(const TASKDIALOGCONFIG &config)>;

QUILLON_WIN32_API TaskDialogHandler SetTaskDialogHandler(TaskDialogHandler handler);

// Shows the dialog and puts the pressed button's ID into *pnButton (when not
// null). Returns 0 (S_OK). Without a handler the texts go to stderr and the
// default button answers.
QUILLON_WIN32_API int TaskDialogIndirect(const TASKDIALOGCONFIG &config, int *pnButton);

} // namespace win32
