#include "platform/win32/files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <string_view>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>

namespace win32 {

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

namespace {

// The names of the open folder stream, sorted; the stream is closed.
std::vector<std::string> namesOf(std::unique_ptr<DIR, int (*)(DIR *)> dir)
{
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

} // namespace

std::optional<std::vector<std::string>> ListFolder(const std::string &path)
{
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir)
        return std::nullopt;
    return namesOf(std::move(dir));
}

std::optional<std::vector<std::string>> ListOpenFolder(int folder)
{
    // The stream takes a descriptor of its own, so that the caller's stays open.
    const int own = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return std::nullopt;
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::fdopendir(own), ::closedir);
    if (!dir) {
        ::close(own);
        return std::nullopt;
    }
    ::rewinddir(dir.get());
    return namesOf(std::move(dir));
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

namespace {

// A read-only file, as Windows has them: one without any write permission
// (whoever asks, root too).
bool isReadOnly(const struct stat &st)
{
    return !S_ISLNK(st.st_mode) && (st.st_mode & 0222) == 0;
}

// Windows deletes or replaces neither a folder nor a read-only file; errno says
// which it is.
bool mayRemove(const struct stat &st)
{
    errno = S_ISDIR(st.st_mode) ? EISDIR : isReadOnly(st) ? EACCES : 0;
    return errno == 0;
}

// Whether a new file that replaces `old` takes its permissions: only from a
// plain file of this user's own, never from a file someone else put there.
bool keepsModeOf(const struct stat &old)
{
    return S_ISREG(old.st_mode) && old.st_uid == ::geteuid();
}

// The mode to make a new file with that is to replace `old`: no more open than
// either `mode` or the file it replaces, while it is written.
unsigned modeBeside(unsigned mode, const struct stat *old)
{
    return old && keepsModeOf(*old) ? mode & old->st_mode & 0777 : mode;
}

// Gives the new file `fd` the permissions of the user's own file it replaces,
// and its group. Where the group cannot be given, the group's permissions are
// dropped rather than handed to another group. Special bits are not taken.
void takeModeOf(int fd, const struct stat &old)
{
    if (!keepsModeOf(old))
        return;
    mode_t mode = old.st_mode & 0777;
    struct stat made
    {};
    if (::fstat(fd, &made) != 0)
        return;
    if (made.st_gid != old.st_gid && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0)
        mode &= ~static_cast<mode_t>(070);
    (void)::fchmod(fd, mode);
}

} // namespace

BOOL DeleteFileA(const std::string &path)
{
    struct stat st
    {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !mayRemove(st))
        return FALSE;
    return ::unlink(path.c_str()) == 0 ? TRUE : FALSE;
}

BOOL MoveFileExA(const std::string &existing, const std::string &newName, DWORD flags)
{
    if (existing.empty() || newName.empty()) {
        errno = ENOENT;
        return FALSE;
    }
    if (!(flags & MOVEFILE_REPLACE_EXISTING))
        return ::renameat2(AT_FDCWD, existing.c_str(), AT_FDCWD, newName.c_str(), RENAME_NOREPLACE)
                       == 0
                   ? TRUE
                   : FALSE;
    struct stat st
    {};
    if (::lstat(newName.c_str(), &st) == 0 && !mayRemove(st))
        return FALSE;
    return ::rename(existing.c_str(), newName.c_str()) == 0 ? TRUE : FALSE;
}

namespace {

// Writes the whole text at an offset, leaving the descriptor's own offset alone.
bool writeAllAt(int fd, std::string_view text, off_t at)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put
            = ::pwrite(fd, text.data() + done, text.size() - done, at + static_cast<off_t>(done));
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

// The names of the new files beside `path`: in `folder` (empty for the current
// one), "<prefix><8 hex digits>.new". The prefix is "." and the file's name,
// cut to leave room for the dot and the ending within a name's 255 bytes.
struct BesideNames
{
    std::string folder;
    std::string prefix;
};

BesideNames besideNames(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    return {folder, "." + path.substr(folder.size(), 200) + "."};
}

// Whether the process holds the capability (linux/capability.h's number) in its
// effective set; where that cannot be read, that it does.
bool hasCapability(int capability)
{
    std::unique_ptr<FILE, int (*)(FILE *)> status(std::fopen("/proc/self/status", "re"),
                                                  std::fclose);
    char line[256];
    while (status && std::fgets(line, sizeof line, status.get()))
        if (std::strncmp(line, "CapEff:", 7) == 0)
            return (std::strtoull(line + 7, nullptr, 16) >> capability) & 1;
    return true;
}

} // namespace

bool StickyFolderKeepsFile(const std::string &path)
{
    if (path.empty() || path.back() == '/')
        return false;
    const std::string folder = besideNames(path).folder;
    struct stat file
    {};
    struct stat parent
    {};
    if (::lstat(path.c_str(), &file) != 0
        || ::stat(folder.empty() ? "." : folder.c_str(), &parent) != 0
        || !(parent.st_mode & S_ISVTX))
        return false;
    const uid_t me = ::geteuid();
    constexpr int kOwnerOverride = 3; // CAP_FOWNER
    return file.st_uid != me && parent.st_uid != me && !hasCapability(kOwnerOverride);
}

namespace {

// O_EXCL makes the name ours alone: it fails for anything that stands there,
// a link included, so nothing planted at a guessed name is ever written. The
// new files that killed writers left are cleared first, and the one made is
// locked through the descriptor returned, which marks it as being written
// (where the file system takes locks). Made in the folder `dirFd` holds, or by
// its path with AT_FDCWD; `name` is its path either way.
int createBeside(int dirFd, const std::string &path, unsigned mode, std::string *name)
{
    RemoveAbandonedFilesBeside(path);
    const BesideNames names = besideNames(path);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::uint32_t random = 0;
        if (::getrandom(&random, sizeof random, 0) != sizeof random)
            random = static_cast<std::uint32_t>(::getpid()) * 2654435761u + attempt;
        char ending[16];
        std::snprintf(ending, sizeof ending, "%08x.new", static_cast<unsigned>(random));
        const std::string leaf = names.prefix + ending;
        *name = names.folder + leaf;
        const int fd = ::openat(dirFd, dirFd == AT_FDCWD ? name->c_str() : leaf.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0)
            (void)::flock(fd, LOCK_EX | LOCK_NB);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// For a file of the user's own in a folder that may not be written. Not
// truncated on opening: what stands there may have changed since it was looked
// at, and only a plain file is rewritten. A longer text first takes the room
// it needs past the old end, so that a full disk fails the write while every
// old byte is still there; only then is the old text overwritten, and a
// shorter one cut to its length.
bool rewriteInPlace(int dirFd, const std::string &leaf, const std::string &text)
{
    const int fd
        = ::openat(dirFd, leaf.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st
    {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        ok = false;
    }
    const std::string_view all = text;
    const auto oldSize = static_cast<std::size_t>(ok ? st.st_size : 0);
    if (ok && all.size() > oldSize && !writeAllAt(fd, all.substr(oldSize), st.st_size)) {
        const int error = errno;
        (void)!::ftruncate(fd, st.st_size);
        errno = error;
        ok = false;
    }
    ok = ok && writeAllAt(fd, all.substr(0, std::min(oldSize, all.size())), 0)
         && (all.size() >= oldSize || ::ftruncate(fd, static_cast<off_t>(all.size())) == 0)
         && ::fsync(fd) == 0;
    return closeKeepingError(fd, ok);
}

} // namespace

std::string CreateFileBeside(const std::string &path, unsigned mode)
{
    if (path.empty()) {
        errno = ENOENT;
        return {};
    }
    std::string name;
    const int fd = createBeside(AT_FDCWD, path, mode, &name);
    if (fd < 0)
        return {};
    ::close(fd);
    return name;
}

FileBeside::~FileBeside()
{
    removeNew();
    if (fd_ >= 0)
        ::close(fd_);
    if (dirFd_ >= 0)
        ::close(dirFd_);
}

bool FileBeside::Create(const std::string &path, unsigned mode, Links links)
{
    path_ = path;
    foreignLink_.clear();
    if (path.empty() || path.back() == '/') {
        errno = path.empty() ? ENOENT : EISDIR;
        return false;
    }
    if (StickyFolderKeepsFile(path)) {
        errno = EPERM;
        return false;
    }
    const std::string folder = besideNames(path).folder;
    const char *const folderPath = folder.empty() ? "." : folder.c_str();
    dirFd_ = links == Links::Followed ? ::open(folderPath, O_PATH | O_DIRECTORY | O_CLOEXEC)
                                      : OpenFolderAvoidingForeignLinks(folderPath, &foreignLink_);
    if (dirFd_ < 0)
        return false;
    leaf_ = path.substr(folder.size());
    struct stat old
    {};
    const bool replaces = ::fstatat(dirFd_, leaf_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    fd_ = createBeside(dirFd_, path, modeBeside(mode, replaces ? &old : nullptr), &new_);
    if (fd_ < 0) {
        new_.clear();
        return false;
    }
    if (replaces)
        takeModeOf(fd_, old);
    newLeaf_ = new_.substr(folder.size());
    return true;
}

bool FileBeside::stillReached() const
{
    const std::string folder = besideNames(path_).folder;
    struct stat held
    {};
    struct stat now
    {};
    if (::fstat(dirFd_, &held) != 0 || ::stat(folder.empty() ? "." : folder.c_str(), &now) != 0)
        return false;
    if (held.st_dev == now.st_dev && held.st_ino == now.st_ino)
        return true;
    errno = ENOENT;
    return false;
}

void FileBeside::removeNew()
{
    if (new_.empty())
        return;
    struct stat mine
    {};
    struct stat named
    {};
    // Only the file this object made, whatever has happened to its name.
    if (::fstat(fd_, &mine) == 0
        && ::fstatat(dirFd_, newLeaf_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
        ::unlinkat(dirFd_, newLeaf_.c_str(), 0);
    new_.clear();
}

void FileBeside::Discard()
{
    removeNew();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool FileBeside::Commit()
{
    bool moved = false;
    folderLeft_ = !new_.empty() && !stillReached();
    if (!new_.empty() && !folderLeft_) {
        struct stat st
        {};
        const bool replaces = ::fstatat(dirFd_, leaf_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        const bool removable = !replaces || mayRemove(st);
        if (replaces && removable)
            takeModeOf(fd_, st);
        // The whole file on the disk before it takes the name, so that the
        // file it replaces is never lost to a half-written one.
        moved = removable && ::fsync(fd_) == 0
                && ::renameat(dirFd_, newLeaf_.c_str(), dirFd_, leaf_.c_str()) == 0;
    } else if (new_.empty()) {
        errno = EBADF;
    }
    const int error = errno;
    if (moved)
        new_.clear();
    removeNew();
    // Unlocked only once the new file has gone from its name either way.
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    errno = error;
    return moved;
}

int RemoveAbandonedFilesBeside(const std::string &path)
{
    return RemoveAbandonedFilesBeside(std::vector<std::string>{path});
}

int RemoveAbandonedFilesBeside(const std::vector<std::string> &paths)
{
    std::string folder;
    std::vector<std::string> prefixes;
    for (const std::string &path : paths) {
        if (path.empty() || path.back() == '/')
            continue; // a folder's path names no file
        BesideNames names = besideNames(path);
        if (!prefixes.empty() && names.folder != folder)
            continue; // not beside the first
        folder = std::move(names.folder);
        prefixes.push_back(std::move(names.prefix));
    }
    if (prefixes.empty())
        return 0;
    auto ours = [&prefixes](const char *name) {
        const std::size_t length = std::strlen(name);
        return std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string &prefix) {
            if (length != prefix.size() + 12 || std::memcmp(name, prefix.data(), prefix.size()) != 0
                || std::strcmp(name + prefix.size() + 8, ".new") != 0)
                return false;
            return std::all_of(name + prefix.size(), name + prefix.size() + 8,
                               [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
        });
    };

    const int dirFd
        = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    std::unique_ptr<DIR, int (*)(DIR *)> listing(::fdopendir(dirFd), ::closedir);
    if (!listing) {
        ::close(dirFd);
        return 0;
    }
    const uid_t me = ::geteuid();
    const time_t settled = ::time(nullptr) - 60;
    int removed = 0;
    while (const dirent *entry = ::readdir(listing.get())) {
        if (!ours(entry->d_name))
            continue;
        struct stat before
        {};
        if (::fstatat(dirFd, entry->d_name, &before, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(before.st_mode) || before.st_uid != me || before.st_mtime > settled)
            continue;
        const int fd = ::openat(dirFd, entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened
        {};
        struct stat now
        {};
        // Locked by nobody, and the name still the file that was looked at.
        if (::fstat(fd, &opened) == 0 && opened.st_dev == before.st_dev
            && opened.st_ino == before.st_ino && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::fstatat(dirFd, entry->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0
            && now.st_dev == opened.st_dev && now.st_ino == opened.st_ino
            && ::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

std::optional<std::string> ReadLinkAt(int folder, const std::string &name)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t got = ::readlinkat(folder, name.c_str(), target.data(), target.size());
    if (got < 0)
        return std::nullopt;
    if (got == 0 || static_cast<std::size_t>(got) == target.size()) {
        errno = got == 0 ? ENOENT : ENAMETOOLONG;
        return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(got));
    return target;
}

bool OthersMayChange(const struct stat &folder)
{
    const bool trustedOwner = folder.st_uid == ::geteuid() || folder.st_uid == 0;
    return !trustedOwner || ((folder.st_mode & 022) != 0 && (folder.st_mode & S_ISVTX) == 0);
}

namespace {

// Walks `path` as the system resolves it, one name at a time, each opened
// O_PATH | O_NOFOLLOW in the folder reached before, so that every link is
// judged on the very object the walk goes on through, and nothing swapped in
// between a check and a use is followed. A link that is neither this user's
// nor root's ends the walk: -1 with errno ELOOP and its path, as reached, in
// `foreignLink`. Else a descriptor (O_PATH) of what `path` names, or -1 with
// errno set (ENOENT at a name that does not exist).
int WalkAvoidingForeignLinks(const std::string &path, std::string *foreignLink)
{
    constexpr int kMostLinks = 40;
    // The names still to walk, the next one last.
    std::vector<std::string> names;
    auto push = [&names](const std::string &text) {
        for (std::size_t end = text.size(); end > 0;) {
            const std::size_t slash = text.rfind('/', end - 1);
            const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
            if (end > begin)
                names.push_back(text.substr(begin, end - begin));
            if (slash == std::string::npos)
                break;
            end = slash;
        }
    };
    struct Held
    {
        int fd = -1;
        ~Held()
        {
            if (fd >= 0)
                ::close(fd);
        }
        void take(int other)
        {
            if (fd >= 0)
                ::close(fd);
            fd = other;
        }
    } at;
    // The path of the folder reached so far, with no link in it ("" is the
    // root), to name a link by.
    std::string atPath;
    const bool absolute = !path.empty() && path.front() == '/';
    at.take(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (at.fd < 0)
        return -1;
    if (!absolute) {
        char cwd[PATH_MAX];
        atPath = !::getcwd(cwd, sizeof cwd) ? "." : cwd == std::string("/") ? "" : cwd;
    }
    push(path);
    for (int links = 0; !names.empty();) {
        const std::string name = std::move(names.back());
        names.pop_back();
        if (name == ".")
            continue;
        if (name == "..") {
            const int up = ::openat(at.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (up < 0)
                return -1;
            at.take(up);
            atPath.erase(std::min(atPath.size(), atPath.rfind('/')));
            continue;
        }
        Held next;
        next.take(::openat(at.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st
        {};
        if (next.fd < 0 || ::fstat(next.fd, &st) != 0)
            return -1;
        if (!S_ISLNK(st.st_mode)) {
            // Only a folder can have names below it.
            if (!names.empty() && !S_ISDIR(st.st_mode)) {
                errno = ENOTDIR;
                return -1;
            }
            at.take(std::exchange(next.fd, -1));
            atPath += "/" + name;
            continue;
        }
        // Not even the owner of the folder it lies in: anyone may make a
        // folder of their own in /tmp and a link in it.
        if (st.st_uid != ::geteuid() && st.st_uid != 0) {
            if (foreignLink)
                *foreignLink = atPath + "/" + name;
            errno = ELOOP;
            return -1;
        }
        if (++links > kMostLinks) {
            errno = ELOOP;
            return -1;
        }
        // The links of /proc (a process's root, working folder or open
        // files) lead where their text does not say: the system follows them.
        if (struct statfs fs{}; ::fstatfs(at.fd, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) {
            at.take(::openat(at.fd, name.c_str(), O_PATH | O_CLOEXEC));
            if (at.fd < 0)
                return -1;
            atPath += "/" + name;
            continue;
        }
        const std::optional<std::string> target = ReadLinkAt(next.fd, "");
        if (!target)
            return -1;
        if (target->front() == '/') {
            at.take(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (at.fd < 0)
                return -1;
            atPath.clear();
        }
        push(*target);
    }
    return std::exchange(at.fd, -1);
}

} // namespace

std::optional<std::string> ForeignLinkOnTheWay(const std::string &path)
{
    std::string link;
    const int fd = WalkAvoidingForeignLinks(path, &link);
    if (fd >= 0)
        ::close(fd);
    if (link.empty())
        return std::nullopt;
    return link;
}

std::string ForeignLinkReason(const std::string &link)
{
    return "it leads through \"" + link + "\", a link that another user made";
}

int OpenFolderAvoidingForeignLinks(const std::string &path, std::string *foreignLink)
{
    const int fd = WalkAvoidingForeignLinks(path, foreignLink);
    if (fd < 0)
        return -1;
    struct stat st
    {};
    const int error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (error == 0)
        return fd;
    ::close(fd);
    errno = error;
    return -1;
}

std::optional<std::string> WrittenFile(const std::string &path, std::string *reason)
{
    auto refuse = [reason](int error, const char *why = nullptr) -> std::optional<std::string> {
        if (reason)
            *reason = why ? why : std::strerror(error);
        errno = error;
        return std::nullopt;
    };
    constexpr int kMostLinks = 40;
    std::string at = path;
    for (int links = 0;; ++links) {
        struct stat st
        {};
        if (at.empty() || at.back() == '/' || ::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return at;
        if (links == kMostLinks)
            return refuse(ELOOP);
        // Nobody else can have made the link or put another in its place, so
        // the name it holds is the user's choice, as if it had been given.
        const std::string folder = besideNames(at).folder;
        struct stat lies
        {};
        if (st.st_uid != ::geteuid() || ::stat(folder.empty() ? "." : folder.c_str(), &lies) != 0
            || OthersMayChange(lies))
            return refuse(ELOOP, "Is a symbolic link");
        const std::optional<std::string> target = ReadLinkAt(AT_FDCWD, at);
        if (!target)
            return refuse(errno);
        at = target->front() == '/' ? *target : folder + *target;
    }
}

namespace {

// What the first step of a replacement came to.
enum class Staged {
    Written, // the text stands complete in the new file, beside the file
    InPlace, // no new file can be made beside the user's own file (errno)
    Failed,  // errno and `reason` tell why
};

// The first step of replacing the file `named` by `text`: the checks, and the
// text written to a new file beside the file that the name leads to. The
// folder is opened once, along the way without another user's link, and
// everything after happens in it: a folder of someone else's on the way
// that becomes a link meanwhile cannot steer the text elsewhere. Nothing
// takes a name yet.
Staged stageContent(const std::string &named, const std::string &text, unsigned mode,
                    std::string *reason, StagedFile &file)
{
    auto fail = [reason](int error, const char *why = nullptr) {
        if (reason)
            *reason = why ? why : std::strerror(error);
        errno = error;
        return Staged::Failed;
    };
    auto foreign = [&fail](const std::string &link) {
        const std::string why = ForeignLinkReason(link);
        return fail(ELOOP, why.c_str());
    };
    if (named.empty())
        return fail(ENOENT);
    // Another user's link on the way to the name would choose which of the
    // user's own links (followed below) leads the text on.
    const std::string namedFolder = besideNames(named).folder;
    if (const auto link = ForeignLinkOnTheWay(namedFolder.empty() ? "." : namedFolder))
        return foreign(*link);
    const std::optional<std::string> written = WrittenFile(named, reason);
    if (!written)
        return Staged::Failed;
    file.path = *written;
    if (file.path.back() == '/')
        return fail(EISDIR);
    const std::string folder = besideNames(file.path).folder;
    std::string link;
    file.dirFd = OpenFolderAvoidingForeignLinks(folder.empty() ? "." : folder, &link);
    if (file.dirFd < 0)
        return link.empty() ? fail(errno) : foreign(link);
    file.leaf = file.path.substr(folder.size());
    struct stat st
    {};
    const bool existed = ::fstatat(file.dirFd, file.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!existed && errno != ENOENT)
        return fail(errno);
    if (existed) {
        if (S_ISLNK(st.st_mode))
            return fail(ELOOP, "Is a symbolic link");
        if (S_ISDIR(st.st_mode))
            return fail(EISDIR);
        if (!S_ISREG(st.st_mode))
            return fail(EINVAL, "Not a regular file");
        if (isReadOnly(st))
            return fail(EACCES);
        // EACCES, or EROFS for a file system mounted read-only.
        if (::faccessat(file.dirFd, file.leaf.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno);
    }
    std::string temporary;
    const int fd = createBeside(file.dirFd, file.path, modeBeside(mode, existed ? &st : nullptr),
                                &temporary);
    if (fd < 0) {
        const int error = errno;
        if (existed && st.st_uid == ::geteuid()
            && (error == EACCES || error == EPERM || error == EROFS)) {
            errno = error;
            return Staged::InPlace;
        }
        return fail(error);
    }
    file.temporary = temporary;
    file.newLeaf = temporary.substr(folder.size());
    if (existed)
        takeModeOf(fd, st);
    // On the disk before it takes the name: a machine that stops just after
    // finds the old text or the new one, never an empty file.
    const bool ok = writeAllAt(fd, text, 0) && ::fsync(fd) == 0;
    if (!closeKeepingError(fd, ok)) {
        const int error = errno;
        file.discard();
        return fail(error);
    }
    return Staged::Written;
}

} // namespace

void StagedFile::discard()
{
    if (!newLeaf.empty())
        ::unlinkat(dirFd, newLeaf.c_str(), 0);
    newLeaf.clear();
    temporary.clear();
}

bool StagedFile::commit()
{
    if (::renameat(dirFd, newLeaf.c_str(), dirFd, leaf.c_str()) == 0) {
        newLeaf.clear();
        temporary.clear();
        return true;
    }
    const int error = errno;
    discard();
    errno = error;
    return false;
}

StagedFile::~StagedFile()
{
    discard();
    if (dirFd >= 0)
        ::close(dirFd);
}

StagedFile::StagedFile(StagedFile &&other) noexcept
    : path(std::move(other.path))
    , temporary(std::move(other.temporary))
    , dirFd(std::exchange(other.dirFd, -1))
    , leaf(std::move(other.leaf))
    , newLeaf(std::exchange(other.newLeaf, {}))
{}

BOOL ReplaceFileContent(const std::string &named, const std::string &text, std::string *reason,
                        unsigned mode)
{
    StagedFile file;
    switch (stageContent(named, text, mode, reason, file)) {
    case Staged::Failed:
        return FALSE;
    case Staged::InPlace:
        if (rewriteInPlace(file.dirFd, file.leaf, text))
            return TRUE;
        break;
    case Staged::Written:
        if (file.commit())
            return TRUE;
        break;
    }
    if (reason)
        *reason = std::strerror(errno);
    return FALSE;
}

FileReplacementGroup::~FileReplacementGroup()
{
    Discard();
}

BOOL FileReplacementGroup::Add(const std::string &path, const std::string &text,
                               std::string *reason, unsigned mode)
{
    if (broken_) {
        if (reason)
            *reason = std::strerror(ECANCELED);
        errno = ECANCELED;
        return FALSE;
    }
    StagedFile file;
    const Staged staged = stageContent(path, text, mode, reason, file);
    if (staged == Staged::Written) {
        files_.push_back(std::move(file));
        return TRUE;
    }
    const int error = errno;
    if (staged == Staged::InPlace && reason)
        *reason = std::strerror(error);
    Discard();
    broken_ = true;
    errno = error;
    return FALSE;
}

BOOL FileReplacementGroup::Commit(std::size_t *failed, std::string *reason)
{
    auto fail = [&](std::size_t at) {
        const int error = errno;
        if (failed)
            *failed = at;
        if (reason)
            *reason = std::strerror(error);
        Discard();
        broken_ = true;
        errno = error;
        return FALSE;
    };
    if (broken_) {
        errno = ECANCELED;
        return fail(files_.size());
    }
    for (std::size_t i = 0; i < files_.size(); ++i) {
        struct stat st
        {};
        if (::fstatat(files_[i].dirFd, files_[i].leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && !mayRemove(st))
            return fail(i);
    }
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (!files_[i].commit())
            return fail(i);
    files_.clear();
    return TRUE;
}

void FileReplacementGroup::Discard()
{
    files_.clear(); // each removes its new file
}

void KeepStandardStreamsOpen()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number: this one. Open for reading only, so that
        // what is written there still fails (EBADF) as on a closed stream, and
        // a program that must print something can say it could not.
        int held = ::open("/dev/null", O_RDONLY);
        if (held < 0)
            held = ::open("/", O_RDONLY | O_DIRECTORY);
        if (held < 0)
            break;
        if (held != fd) {
            ::close(held);
            break;
        }
    }
}

int OpenInputFile(const std::string &path, std::string *reason)
{
    auto refuse = [reason](int error, const char *why = nullptr) {
        if (reason)
            *reason = why ? why : std::strerror(error);
        errno = error;
        return -1;
    };
    struct stat st
    {};
    if (path.empty())
        return refuse(ENOENT);
    if (::stat(path.c_str(), &st) != 0)
        return refuse(errno);
    if (S_ISDIR(st.st_mode))
        return refuse(EISDIR);
    if (!S_ISREG(st.st_mode))
        return refuse(EINVAL, "Not a regular file");
    // Non-blocking in case something else has taken the name since.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return refuse(errno);
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return refuse(error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? refuse(EISDIR) : refuse(EINVAL, "Not a regular file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::optional<std::string> ReadInputFile(const std::string &path, std::string *reason,
                                         struct stat *status)
{
    const int fd = OpenInputFile(path, reason);
    if (fd < 0)
        return std::nullopt;
    auto tooLarge = [&]() -> std::optional<std::string> {
        ::close(fd);
        if (reason)
            *reason = std::strerror(EFBIG);
        errno = EFBIG;
        return std::nullopt;
    };
    struct stat st
    {};
    if (::fstat(fd, &st) == 0 && st.st_size > static_cast<off_t>(kLargestInputFile))
        return tooLarge();
    if (status)
        *status = st;
    // Read straight into the text (no buffer on the stack, which may be a
    // small thread's), sized for the file as it stands plus a byte to see
    // its end, and grown should it grow meanwhile.
    std::string text;
    std::size_t used = 0;
    text.resize(
        std::max<std::size_t>(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 1, 4096));
    for (;;) {
        if (used == text.size())
            text.resize(std::min(text.size() * 2, kLargestInputFile + 1));
        const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            if (reason)
                *reason = std::strerror(error);
            errno = error;
            return std::nullopt;
        }
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
        if (used > kLargestInputFile)
            return tooLarge();
    }
    ::close(fd);
    text.resize(used);
    return text;
}

bool ForceDirectories(const std::string &path, std::string *reason)
{
    const auto fail = [reason](int error) {
        if (reason)
            *reason = std::strerror(error);
        return false;
    };
    if (path.empty())
        return fail(ENOENT);
    std::string prefix;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        std::size_t next = path.find('/', pos + 1);
        prefix = path.substr(0, next);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return fail(errno);
        pos = next;
    }
    // Something that is not a folder may stand at the last name, or a link
    // that leads nowhere.
    struct stat st
    {};
    return DirectoryExists(path) || fail(::stat(path.c_str(), &st) != 0 ? errno : ENOTDIR);
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

} // namespace win32
