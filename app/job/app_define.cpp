#include "app/job/app_define.h"

#include "platform/forms/errors.h"
#include "platform/win32/files.h"
#include "platform/win32/ini.h"
#include "platform/win32/shell.h"

namespace quillon {

std::string GetTempDirectory()
{
    std::string path = win32::GetTempPathA();
    // A refused folder must not become "/" and the job files land in the root.
    if (path.empty())
        throw forms::Exception(win32::TempFolderProblem());
    if (path.back() != '/')
        path += '/';
    return path;
}

void BrowseForFolder(HWND owner, std::string &Variable)
{
    win32::BROWSEINFOA info;
    info.hwndOwner = owner;
    info.lpszTitle = "Please specify a directory";
    info.ulFlags = win32::BIF_RETURNONLYFSDIRS;
    const std::optional<std::string> chosen = win32::SHBrowseForFolderA(info);
    if (!chosen)
        return;
    // A path handed over with a NUL inside ends there, as a C buffer would end it.
    const std::string path = chosen->substr(0, chosen->find('\0'));
    // An answer without a path names no file-system folder: nothing was chosen.
    if (path.empty())
        return;
    Variable = path;
    if (Variable.back() != '/')
        Variable += '/';
}

TApplicationInfo &ApplicationInfo()
{
    static TApplicationInfo info;
    return info;
}

std::string DefaultOutputFolder()
{
    const std::string home = win32::GetHomeFolder();
    return home + (home.back() == '/' ? "" : "/") + "My Movie";
}

std::string ConfigFilePath()
{
    return win32::GetProgramFolder() + "config.ini";
}

void ReadApplicationInfo(const std::string &configFile)
{
    // The buffer the values are read into holds 2048 characters with its NUL.
    constexpr std::size_t kBufferSize = 2048;
    TApplicationInfo &info = ApplicationInfo();
    info.Homepage = win32::GetPrivateProfileStringA("ApplicationInfo", "Homepage", DefaultHomepage,
                                                    configFile, kBufferSize);
    info.HelpFile = win32::GetPrivateProfileStringA("ApplicationInfo", "HelpFile", DefaultHelpFile,
                                                    configFile, kBufferSize);
}

} // namespace quillon
