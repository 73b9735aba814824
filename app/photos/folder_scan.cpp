#include "app/photos/folder_scan.h"

#include "app/photos/listed_message.h"
#include "platform/win32/files.h"

#include <climits>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

// The extension from the last dot of the file name, dot included.
std::string extensionOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return path.substr(dot);
}

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : fd_(fd)
    {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

struct Scan
{
    explicit Scan(std::vector<std::string> &list)
        : list(list)
    {}

    std::vector<std::string> &list;
    std::vector<std::string> unreadable;
    std::set<win32::FileIdentity> visited;
    const uid_t user = ::geteuid();

    void photo(const std::string &path)
    {
        const std::string extension = extensionOf(path);
        if (extension == ".jpg" || extension == ".bmp")
            list.push_back(path);
    }

    // The folder that `link` (in `parent`) leads to, opened through the very
    // link whose owner was checked, not through whatever has its name by then.
    int openOwnLink(int parent, const std::string &link)
    {
        const Descriptor held(::openat(parent, link.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st
        {};
        if (held.get() < 0 || ::fstat(held.get(), &st) != 0 || !S_ISLNK(st.st_mode)
            || st.st_uid != user)
            return -1;
        const std::optional<std::string> target = win32::ReadLinkAt(held.get(), "");
        if (!target)
            return -1;
        return ::openat(parent, target->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }

    // Scans the folder open as `folder`, listed as `path`; the descriptor is the
    // scan's to close.
    void folder(int fd, const std::string &path)
    {
        const Descriptor folder(fd);
        // No photo in or below a folder this deep can be opened by its name,
        // and a tree planted deeper would take the scan as deep.
        if (path.size() >= PATH_MAX) {
            unreadable.push_back(path);
            return;
        }
        struct stat st
        {};
        if (::fstat(fd, &st) != 0) {
            unreadable.push_back(path);
            return;
        }
        if (!visited
                 .insert({static_cast<unsigned long long>(st.st_dev),
                          static_cast<unsigned long long>(st.st_ino)})
                 .second)
            return;
        const auto names = win32::ListOpenFolder(fd);
        if (!names) {
            unreadable.push_back(path);
            return;
        }
        for (const std::string &name : *names) {
            const std::string entry = path + "/" + name;
            struct stat own
            {};
            if (::fstatat(fd, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
                photo(entry);
            } else if (S_ISDIR(own.st_mode)) {
                const int sub
                    = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0)
                    unreadable.push_back(entry);
                else
                    this->folder(sub, entry);
            } else if (struct stat target{}; S_ISLNK(own.st_mode)
                                             && ::fstatat(fd, name.c_str(), &target, 0) == 0
                                             && S_ISDIR(target.st_mode)) {
                // Another user's link to a folder is not followed: it could
                // lead anywhere on the machine.
                if (own.st_uid != user)
                    continue;
                const int sub = openOwnLink(fd, name);
                if (sub < 0)
                    unreadable.push_back(entry);
                else
                    this->folder(sub, entry);
            } else {
                photo(entry);
            }
        }
    }
};

} // namespace

std::vector<std::string> ScanPictureFolder(std::vector<std::string> &list, const std::string &path)
{
    Scan scan(list);
    // The folder picked is scanned whoever made the link it may be.
    struct stat st
    {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        scan.photo(path);
        return {};
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {path};
    scan.folder(fd, path);
    return std::move(scan.unreadable);
}

std::string UnreadableFoldersMessage(const std::vector<std::string> &Folders)
{
    return ListedMessage(Folders.size() == 1
                             ? "This folder could not be read, so its photos were not added:"
                             : "These folders could not be read, so their photos were not added:",
                         Folders);
}

} // namespace quillon
