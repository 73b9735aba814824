// ShellExecute "open": hands a file, folder or address to the desktop's default
// handler. The handler is replaceable so that the program can use Qt's and tests
// can record the calls.
//
// SHBrowseForFolder: the shell's folder chooser, answered by a replaceable
// chooser as well: the program installs a dialog, tests answer it themselves.
#pragma once

#include "platform/win32/types.h"

#include <functional>
#include <optional>
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

constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;

struct BROWSEINFOA
{
    HWND hwndOwner = nullptr;
    std::string lpszTitle;
    UINT ulFlags = 0;
};

// The chosen folder's file-system path, or nullopt when the user cancelled.
using FolderChooser = std::function<std::optional<std::string>(const BROWSEINFOA &)>;

QUILLON_WIN32_API FolderChooser SetFolderChooser(FolderChooser chooser);

// Shows the chooser; without one (a program with no display) every request
// counts as cancelled.
QUILLON_WIN32_API std::optional<std::string> SHBrowseForFolderA(const BROWSEINFOA &info);

// The user's home folder, as bytes: $HOME when it holds an absolute path, else
// the password file's entry for the user, else "/". A service or `env -i`
// leaves HOME unset; the password file still knows where the user lives.
QUILLON_WIN32_API std::string GetHomeFolder();

} // namespace win32
