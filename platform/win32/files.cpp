#include "platform/win32/files.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace win32 {

std::string GetTempPathA()
{
    const char *env = std::getenv("TMPDIR");
    std::string path = (env && *env) ? env : "/tmp";
    if (path.back() != '/')
        path += '/';
    return path;
}

std::string GetShortPathNameA(const std::string &path)
{
    struct stat st
    {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return {};
    return path;
}

DWORD GetFileAttributesA(const std::string &path)
{
    struct stat st
    {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return INVALID_FILE_ATTRIBUTES;
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if ((st.st_mode & 0222) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    std::string_view name(path);
    while (name.size() > 1 && name.back() == '/')
        name.remove_suffix(1);
    auto slash = name.rfind('/');
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    if (name.size() > 1 && name.front() == '.' && name != "..")
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes;
}

std::optional<std::vector<std::string>> ListFolder(const std::string &path)
{
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir)
        return std::nullopt;
    std::vector<std::string> names;
    while (struct dirent *entry = ::readdir(dir.get())) {
        std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        names.emplace_back(name);
    }
    return names;
}

std::optional<FileIdentity> GetFileIdentity(const std::string &path)
{
    struct stat st
    {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<unsigned long long>(st.st_dev),
                        static_cast<unsigned long long>(st.st_ino)};
}

bool FileExists(const std::string &path)
{
    struct stat st
    {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string &path)
{
    struct stat st
    {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

BOOL DeleteFileA(const std::string &path)
{
    struct stat st
    {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0)
        return FALSE;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return FALSE;
    }
    return ::unlink(path.c_str()) == 0 ? TRUE : FALSE;
}

bool ForceDirectories(const std::string &path)
{
    if (path.empty())
        return false;
    std::string prefix;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        std::size_t next = path.find('/', pos + 1);
        prefix = path.substr(0, next);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        pos = next;
    }
    return DirectoryExists(path);
}

std::string GetProgramFolder()
{
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t got = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (got <= 0)
            return "./";
        if (static_cast<std::size_t>(got) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(got));
            return buffer.substr(0, buffer.rfind('/') + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string FixedScriptPath()
{
    return GetTempPathA() + "temp.avs";
}

} // namespace win32
