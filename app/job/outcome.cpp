#include "app/job/outcome.h"

#include "platform/win32/messagebox.h"
#include "platform/win32/shell.h"

namespace quillon {

namespace {

std::string FolderOf(const std::string &file)
{
    const std::size_t slash = file.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

} // namespace

std::string NothingToOpenMessage(const std::string &file)
{
    return "This desktop has no program to open \"" + file + "\".";
}

bool OpenWithDesktop(HWND owner, const std::string &caption, const std::string &file)
{
    if (win32::ShellExecuteA(owner, "open", file.c_str(), nullptr, nullptr, win32::SW_SHOWNORMAL)
        > 32)
        return true;
    win32::MessageBoxA(owner, NothingToOpenMessage(file).c_str(), caption.c_str(),
                       win32::MB_OK | win32::MB_ICONWARNING);
    return false;
}

void ShowMovieOutcome(HWND owner, const std::string &caption, const std::string &text,
                      const std::string &movie)
{
    win32::TASKDIALOGCONFIG box;
    box.hwndParent = owner;
    box.pszWindowTitle = caption;
    box.pszMainInstruction = text;
    box.pszContent = movie;
    box.pButtons = {{IDPLAY, "Play"}, {IDSHOWINFOLDER, "Show in Folder"}};
    box.nDefaultButton = win32::IDOK;
    int pressed = win32::IDOK;
    win32::TaskDialogIndirect(box, &pressed);
    if (pressed == IDPLAY)
        OpenWithDesktop(owner, caption, movie);
    else if (pressed == IDSHOWINFOLDER)
        OpenWithDesktop(owner, caption, FolderOf(movie));
}

} // namespace quillon
