#include "platform/win32/tempfolder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace win32 {

namespace {

std::mutex chosenMutex;
std::string chosenFolder; // from SetTempFolder; "" for the private one

thread_local std::string lastProblem;

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The folder as the system calls take it: no '/' at the end, but "/" itself.
std::string bare(const std::string &folder)
{
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string parentOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string refusal(const std::string &folder, const std::string &reason)
{
    return "The job folder \"" + withSlash(folder) + "\" cannot be used: " + reason + ".";
}

std::string privateFolder()
{
    const char *env = std::getenv("TMPDIR");
    const std::string base = withSlash((env && *env) ? env : "/tmp");
    return base + "quillon-" + std::to_string(::geteuid()) + "/";
}

} // namespace

std::string CheckPrivateFolder(const std::string &folder)
{
    if (folder.empty())
        return refusal(folder, "it has no name");
    const std::string path = bare(folder);
    struct stat st
    {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return refusal(folder, std::strerror(errno));
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            return refusal(folder, std::string("it cannot be made: ") + std::strerror(errno));
        if (::lstat(path.c_str(), &st) != 0)
            return refusal(folder, std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode))
        return refusal(folder, "it is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        return refusal(folder, "it is not a folder");
    if (st.st_uid != ::geteuid())
        return refusal(folder, "it belongs to another user");
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return refusal(folder, std::string("others may enter it (mode ") + mode + ")");
    }
    // Whoever may change the folder it lies in could put another folder or a
    // link in its place between this check and the use.
    struct stat parent
    {};
    if (::stat(parentOf(path).c_str(), &parent) != 0)
        return refusal(folder, std::strerror(errno));
    const bool trustedOwner = parent.st_uid == ::geteuid() || parent.st_uid == 0;
    const bool othersMayChange = (parent.st_mode & 022) != 0 && (parent.st_mode & S_ISVTX) == 0;
    if (!trustedOwner || othersMayChange)
        return refusal(folder, "another user may change the folder it lies in");
    return {};
}

std::string GetTempPathA()
{
    std::string folder;
    {
        std::lock_guard lock(chosenMutex);
        folder = chosenFolder;
    }
    if (folder.empty())
        folder = privateFolder();
    lastProblem = CheckPrivateFolder(folder);
    return lastProblem.empty() ? folder : std::string();
}

std::string TempFolderProblem()
{
    return lastProblem;
}

void SetTempFolder(const std::string &folder)
{
    std::lock_guard lock(chosenMutex);
    chosenFolder = folder.empty() ? std::string() : withSlash(folder);
}

std::string FixedScriptPath()
{
    const std::string folder = GetTempPathA();
    return folder.empty() ? std::string() : folder + "temp.avs";
}

FolderLock::FolderLock(FolderLock &&other) noexcept
    : fd_(other.fd_)
{
    other.fd_ = -1;
}

FolderLock &FolderLock::operator=(FolderLock &&other) noexcept
{
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FolderLock::~FolderLock()
{
    Release();
}

FolderLock::Result FolderLock::TryLock(const std::string &folder)
{
    Release();
    const int fd = ::open(bare(folder).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Result::Failed;
    // The lock belongs to the open folder, not to this process: a second
    // FolderLock of the same process is refused too, and a process that dies
    // leaves no stale lock behind.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const int error = errno;
        ::close(fd);
        errno = error;
        return error == EWOULDBLOCK ? Result::Busy : Result::Failed;
    }
    fd_ = fd;
    return Result::Taken;
}

void FolderLock::Release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace win32
