// ShellExecute "open": hands a file, folder or address to the desktop's default
// handler. The handler is replaceable so that the program can use Qt's and tests
// can record the calls.
#pragma once

#include "platform/win32/types.h"

#include <functional>
#include <string>

namespace win32 {

constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMAXIMIZED = 3;

struct ShellRequest
{
    HWND owner = nullptr;
    std::string verb; // "" for the default action
    std::string file;
    std::string parameters;
    std::string directory;
    int show = SW_SHOWNORMAL;
};

// Returns a value above 32 on success, as ShellExecute does.
using ShellHandler = std::function<std::intptr_t(const ShellRequest &)>;

QUILLON_WIN32_API ShellHandler SetShellHandler(ShellHandler handler);

// Null strings count as empty. The default handler starts xdg-open and does not wait.
QUILLON_WIN32_API std::intptr_t ShellExecuteA(HWND owner, const char *verb, const char *file,
                                              const char *parameters, const char *directory,
                                              int show);

} // namespace win32
