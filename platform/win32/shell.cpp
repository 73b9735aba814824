#include "platform/win32/shell.h"

#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace win32 {

namespace {

std::mutex g_mutex;
ShellHandler g_handler;
FolderChooser g_chooser;

constexpr std::intptr_t SE_ERR_NOASSOC = 31;
constexpr std::intptr_t ERROR_FILE_NOT_FOUND = 2;

std::intptr_t openWithDesktop(const ShellRequest &request)
{
    if (request.file.empty())
        return ERROR_FILE_NOT_FOUND;
    const char *argv[] = {"xdg-open", request.file.c_str(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char *const *>(argv), environ)
        != 0)
        return SE_ERR_NOASSOC;
    // Reap the child without making the caller wait for the desktop.
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return 42;
}

} // namespace

ShellHandler SetShellHandler(ShellHandler handler)
{
    std::lock_guard lock(g_mutex);
    ShellHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

std::intptr_t ShellExecuteA(HWND owner, const char *verb, const char *file, const char *parameters,
                            const char *directory, int show)
{
    ShellRequest request{owner,
                         verb ? verb : "",
                         file ? file : "",
                         parameters ? parameters : "",
                         directory ? directory : "",
                         show};
    ShellHandler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    return handler ? handler(request) : openWithDesktop(request);
}

FolderChooser SetFolderChooser(FolderChooser chooser)
{
    std::lock_guard lock(g_mutex);
    FolderChooser previous = std::move(g_chooser);
    g_chooser = std::move(chooser);
    return previous;
}

std::optional<std::string> SHBrowseForFolderA(const BROWSEINFOA &info)
{
    FolderChooser chooser;
    {
        std::lock_guard lock(g_mutex);
        chooser = g_chooser;
    }
    if (!chooser)
        return std::nullopt;
    return chooser(info);
}

std::string GetHomeFolder()
{
    if (const char *home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return pw->pw_dir;
    return "/";
}

} // namespace win32
