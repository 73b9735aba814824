#include "platform/win32/messagebox.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace win32 {

namespace {

std::mutex g_mutex;
MessageBoxHandler g_handler;
TaskDialogHandler g_taskHandler;

int printToStderr(HWND, const std::string &text, const std::string &caption, UINT type)
{
    if (caption.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return DefaultButton(type);
}

thread_local BeforeMessageBoxOnThisThread *t_before = nullptr;

} // namespace

BeforeMessageBoxOnThisThread::BeforeMessageBoxOnThisThread(std::function<void()> before)
    : before_(std::move(before))
    , previous_(std::exchange(t_before, this))
{}

BeforeMessageBoxOnThisThread::~BeforeMessageBoxOnThisThread()
{
    t_before = previous_;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard lock(g_mutex);
    MessageBoxHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

int EscapeButton(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    default:
        return IDOK;
    }
}

int DefaultButton(UINT type)
{
    const bool second = (type & MB_DEFBUTTON2) != 0;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return second ? IDCANCEL : IDOK;
    case MB_YESNO:
        return second ? IDNO : IDYES;
    default:
        return IDOK;
    }
}

int MessageBoxA(HWND owner, const char *text, const char *caption, UINT type)
{
    MessageBoxHandler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    const std::string t = text ? text : "";
    const std::string c = caption ? caption : "";
    if (t_before)
        (*t_before)();
    return handler ? handler(owner, t, c, type) : printToStderr(owner, t, c, type);
}

TaskDialogHandler SetTaskDialogHandler(TaskDialogHandler handler)
{
    std::lock_guard lock(g_mutex);
    TaskDialogHandler previous = std::move(g_taskHandler);
    g_taskHandler = std::move(handler);
    return previous;
}

int TaskDialogIndirect(const TASKDIALOGCONFIG &config, int *pnButton)
{
    TaskDialogHandler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_taskHandler;
    }
    int answer = 0;
    if (handler) {
        answer = handler(config);
    } else {
        const std::string text = config.pszContent.empty()
                                     ? config.pszMainInstruction
                                     : config.pszMainInstruction + "\n" + config.pszContent;
        printToStderr(config.hwndParent, text, config.pszWindowTitle, MB_OK);
        answer = config.nDefaultButton;
        if (answer == 0)
            answer = config.pButtons.empty() ? IDOK : config.pButtons.front().nButtonID;
    }
    if (pnButton)
        *pnButton = answer;
    return 0;
}

} // namespace win32
