#include "platform/win32/tempfolder.h"

#include "platform/win32/files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// The first folder on the way to the absolute `path`, from "/" down and through
// every link on the way as the system follows them, that someone else could
// change: the one that could put another folder or a link in place of the
// next between a check and a use. "" when there is none, and where the way
// ends early (a missing name, one that may not be looked at, too many links):
// what is then done with the path fails on its own and says why.
std::string folderOthersMayChange(const std::string &path)
{
    std::vector<std::string> ahead; // the names still to go, the next one last
    auto push = [&ahead](const std::string &names) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        while (start <= names.size()) {
            const std::size_t slash = std::min(names.find('/', start), names.size());
            if (slash > start)
                parts.push_back(names.substr(start, slash - start));
            start = slash + 1;
        }
        ahead.insert(ahead.end(), parts.rbegin(), parts.rend());
    };
    push(path);
    std::string at = "/";
    struct stat st
    {};
    if (::stat(at.c_str(), &st) != 0)
        return {};
    if (OthersMayChange(st))
        return at;
    int links = 0;
    while (!ahead.empty()) {
        const std::string name = ahead.back();
        ahead.pop_back();
        if (name == ".")
            continue;
        if (name == "..") {
            at = parentOf(at);
            continue;
        }
        const std::string next = at == "/" ? "/" + name : at + "/" + name;
        if (::lstat(next.c_str(), &st) != 0)
            return {};
        if (S_ISLNK(st.st_mode)) {
            const std::optional<std::string> target = ReadLinkAt(AT_FDCWD, next);
            if (!target || ++links > 40)
                return {};
            if (target->front() == '/')
                at = "/";
            push(*target);
            continue;
        }
        if (!S_ISDIR(st.st_mode))
            return {};
        if (OthersMayChange(st))
            return next;
        at = next;
    }
    return {};
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
    // Whoever may change a folder on the way could put another folder or a
    // link in its place between this check and the use: checked before
    // anything is made there.
    std::string absolute = path;
    if (absolute[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            return refusal(folder, std::strerror(errno));
        absolute = std::string(cwd) + "/" + path;
    }
    // Another user's link on the way leads wherever its owner points it next
    // (the folder itself being a link is refused below, as any link is).
    const std::string parent = parentOf(absolute);
    if (const std::optional<std::string> link = ForeignLinkOnTheWay(parent))
        return refusal(folder, ForeignLinkReason(*link));
    const std::string changeable = folderOthersMayChange(parent);
    if (!changeable.empty()) {
        struct stat at
        {};
        struct stat lies
        {};
        const bool itLiesIn = ::stat(changeable.c_str(), &at) == 0
                              && ::stat(parent.c_str(), &lies) == 0 && at.st_dev == lies.st_dev
                              && at.st_ino == lies.st_ino;
        return refusal(folder, itLiesIn ? "another user may change the folder it lies in"
                                        : "another user may change the folder \""
                                              + withSlash(changeable) + "\" above it");
    }
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
