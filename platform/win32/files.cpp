#include "platform/win32/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
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

namespace {

unsigned char upper(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Capitals, not small letters, as the designed-for file system folds names:
// "_" (0x5F) sorts after "A" and before "a" there. Names are bytes: those
// beyond ASCII compare as they are.
bool beforeInFolder(const std::string &a, const std::string &b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = upper(static_cast<unsigned char>(a[i]));
        const unsigned char y = upper(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // char_traits compares the bytes as unsigned
}

} // namespace

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
    std::sort(names.begin(), names.end(), beforeInFolder);
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

namespace {

bool writeAll(int fd, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Closes the descriptor, keeping the first error in errno.
bool closeKeepingError(int fd, bool ok)
{
    const int saved = errno;
    const bool closed = ::close(fd) == 0;
    if (!ok)
        errno = saved;
    return ok && closed;
}

BOOL rewriteInPlace(const std::string &path, const std::string &text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return FALSE;
    return closeKeepingError(fd, writeAll(fd, text)) ? TRUE : FALSE;
}

} // namespace

BOOL ReplaceFileContent(const std::string &path, const std::string &text)
{
    if (path.empty()) {
        errno = ENOENT;
        return FALSE;
    }
    // The new file goes beside the file a link points at, so the link stays.
    std::string target = path;
    struct stat st
    {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return FALSE;
        }
        if (!S_ISREG(st.st_mode))
            return rewriteInPlace(path, text); // a device or a pipe has no content to keep
        if (::access(path.c_str(), W_OK) != 0)
            return FALSE;
        if (char *real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

    std::string temporary;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = folder + "." + name + "." + std::to_string(::getpid()) + "."
                    + std::to_string(attempt) + ".new";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    existed ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        // A file that may be written in a folder that may not.
        if (existed && (errno == EACCES || errno == EPERM || errno == EROFS))
            return rewriteInPlace(target, text);
        return FALSE;
    }
    bool ok = writeAll(fd, text);
    if (ok && existed) {
        // Root rewriting another user's file gives it back to that user.
        [[maybe_unused]] const int owned = ::fchown(fd, st.st_uid, st.st_gid);
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    }
    ok = closeKeepingError(fd, ok) && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return FALSE;
    }
    return TRUE;
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
