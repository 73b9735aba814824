// Paths, file attributes and folder listings.
#pragma once

#include "platform/win32/tempfolder.h"
#include "platform/win32/types.h"

#include <optional>
#include <string>
#include <vector>

struct stat;

namespace win32 {

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// The short form of an existing path is the path itself; "" when it does not exist.
QUILLON_WIN32_API std::string GetShortPathNameA(const std::string &path);

// Directory 16, read-only 1 (no write permission bits), hidden 2 (a dot name),
// archive 32 (anything that is not a folder); INVALID_FILE_ATTRIBUTES when the
// path cannot be read. Links are followed.
QUILLON_WIN32_API DWORD GetFileAttributesA(const std::string &path);

// Every entry of the folder but "." and "..", in the order the file system the
// system was designed for yields them, which keeps its folders sorted: by name
// with ASCII letters compared as capitals, names equal that way by their exact
// bytes. A camera's IMG_0001 ... IMG_0100 come back in the order they were
// shot, whatever order the disk keeps. nullopt when the folder cannot be listed.
QUILLON_WIN32_API std::optional<std::vector<std::string>> ListFolder(const std::string &path);
// The same for the folder open as `folder`, which stays open.
QUILLON_WIN32_API std::optional<std::vector<std::string>> ListOpenFolder(int folder);

// What makes a file or folder the same one when it is reached by two paths.
struct FileIdentity
{
    unsigned long long device = 0;
    unsigned long long inode = 0;
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
    friend auto operator<=>(const FileIdentity &, const FileIdentity &) = default;
};
QUILLON_WIN32_API std::optional<FileIdentity> GetFileIdentity(const std::string &path);

QUILLON_WIN32_API bool FileExists(const std::string &path);      // anything but a folder
QUILLON_WIN32_API bool DirectoryExists(const std::string &path); // a folder, links followed

// Removes a file (never a folder; a link itself, not what it points at). As on
// Windows a read-only file, one without any write permission, is not removed.
// FALSE when there was none or it stays; errno tells why.
QUILLON_WIN32_API BOOL DeleteFileA(const std::string &path);

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;

// Gives the file `existing` the name `newName` in one step, never following a
// link at either name. With MOVEFILE_REPLACE_EXISTING a file (or link) of that
// name is replaced, unless it is one that DeleteFileA would not remove (EACCES)
// or a folder (EISDIR); without it an existing name is refused (EEXIST).
QUILLON_WIN32_API BOOL MoveFileExA(const std::string &existing, const std::string &newName,
                                   DWORD flags);

// Whether the file at `path` belongs to another user in a folder with the
// sticky bit (such as /tmp or a shared folder made like it), where this process
// may neither remove nor replace it: MoveFileExA onto `path` would fail (EPERM)
// however long the new file took to write. False when nothing stands there.
QUILLON_WIN32_API bool StickyFolderKeepsFile(const std::string &path);

// Makes a new, empty file beside `path`: in the same folder, hidden, named
// after it with a random ending, created where no file or link stood, with
// `mode` less the umask. Content written there takes `path`'s name later
// (MoveFileExA), so that the old file stays whole until the new one is. The
// new files of that name that killed writers left are removed first
// (RemoveAbandonedFilesBeside). Its name, or "" with errno set.
QUILLON_WIN32_API std::string CreateFileBeside(const std::string &path, unsigned mode);

// A file that is written over a long time (a movie, a stream) under a new
// name beside `path`, made as CreateFileBeside makes one, that takes `path`'s
// name only once it is complete: until then the file before stays whole, and
// whatever stands at the name is replaced as a name, never written through. A
// file of the user's own that it replaces gives it its permissions and group
// (the new file is no more open than that one while it is written).
// The new file is held locked (flock) while it is written, which marks it as
// being written for RemoveAbandonedFilesBeside; one dropped before Commit is
// removed. The folder is held from Create on: the new file is renamed or
// removed there, never in another folder that has taken the folder's path
// since (a folder renamed, or a link put in its place), and it is removed even
// when the path no longer reaches it.
class QUILLON_WIN32_API FileBeside
{
public:
    FileBeside() = default;
    ~FileBeside();
    FileBeside(const FileBeside &) = delete;
    FileBeside &operator=(const FileBeside &) = delete;

    // How the folder of the file is reached: as the system follows links, or
    // refusing another user's link on the way (OpenFolderAvoidingForeignLinks).
    enum class Links { Followed, OnlyTrusted };
    // Makes the new file; false with errno set. A file of that name that this
    // process may not replace, another user's in a sticky folder, is refused
    // (EPERM) before anything is made (StickyFolderKeepsFile). With
    // Links::OnlyTrusted a foreign link on the way is refused with ELOOP, and
    // ForeignLink names it.
    bool Create(const std::string &path, unsigned mode, Links links = Links::Followed);
    const std::string &ForeignLink() const { return foreignLink_; }
    // The new file's name, and a descriptor of it open for reading and writing.
    const std::string &NewPath() const { return new_; }
    int Descriptor() const { return fd_; }
    // Gives the new file `path`'s name; false with errno set, the new file
    // then removed. Where `path`'s folder no longer reaches the folder the file
    // was made in, that is ENOENT. Either way the descriptor is closed.
    bool Commit();
    // Whether the last Commit failed because `path`'s folder no longer
    // reaches the folder the file was made in (it was moved or replaced).
    bool FolderLeftItsPath() const { return folderLeft_; }
    // Removes the new file and closes its descriptor, as if never committed.
    void Discard();

private:
    bool stillReached() const;
    void removeNew();

    std::string path_;
    std::string new_;
    std::string leaf_;    // path_'s name within its folder
    std::string newLeaf_; // new_'s
    int fd_ = -1;
    int dirFd_ = -1; // the folder, as it was when the file was made
    std::string foreignLink_;
    bool folderLeft_ = false;
};

// Removes the new files beside `path` whose writers ended without removing
// them (a process killed, a machine that stopped): files of CreateFileBeside's
// names for `path`, this user's own, plain files, that no descriptor holds
// locked and that nothing has written to for a minute (a file is locked just
// after it is made). Links, folders and everyone else's files stay, and a
// name is never followed. How many were removed.
QUILLON_WIN32_API int RemoveAbandonedFilesBeside(const std::string &path);
// The same for several names of one folder, in one pass over the folder (a
// path of another folder than the first is passed over).
QUILLON_WIN32_API int RemoveAbandonedFilesBeside(const std::vector<std::string> &paths);

// What the link `name` in the folder open as `folder` holds (AT_FDCWD: the
// working folder; "" with a descriptor of the link itself, opened O_PATH |
// O_NOFOLLOW). nullopt with errno set when it cannot be read, is not a link,
// or holds nothing (ENOENT) or more than PATH_MAX bytes (ENAMETOOLONG).
QUILLON_WIN32_API std::optional<std::string> ReadLinkAt(int folder, const std::string &name);

// Whether someone else could change what a name in the folder `folder` (its
// stat) leads to: a folder that is neither this user's nor root's, or that
// others may write to without the sticky bit (which keeps their hands off
// entries not their own).
QUILLON_WIN32_API bool OthersMayChange(const struct stat &folder);

// The first symbolic link on the way to `path` (the folders above it, and
// `path` itself) that is neither this user's nor root's, as one planted in
// /tmp by another user would be (directly, or in a folder of their own there). Links are followed
// as the system follows them (at most 40); the walk ends quietly at a name that does not exist yet.
// The link's path as reached, or nullopt when there is none.
QUILLON_WIN32_API std::optional<std::string> ForeignLinkOnTheWay(const std::string &path);

// Why such a link refuses a path, for the user: "it leads through "LINK", a
// link that another user made".
QUILLON_WIN32_API std::string ForeignLinkReason(const std::string &link);

// The folder `path` leads to, opened (O_PATH | O_DIRECTORY) along the way
// ForeignLinkOnTheWay checks, name by name, so that the folder opened is the
// one the check passed even while others change names on the way. -1 with
// errno set when it cannot be reached or is not a folder (ENOTDIR); where
// another user's link lies on the way, ELOOP with that link's path in
// `foreignLink`.
QUILLON_WIN32_API int OpenFolderAvoidingForeignLinks(const std::string &path,
                                                     std::string *foreignLink);

// The file that writing `path` writes: `path` itself unless it is a symbolic
// link. A link of this user's own in a folder that nobody else may change
// (OthersMayChange) is followed to the name it holds, one that is not absolute
// taken from the link's folder, and so on along a chain of such links (at most
// 40); what it leads to need not exist yet. Any other link (one someone else
// made, or one in a folder others may change) is not followed: nullopt with
// errno ELOOP and `reason`, when given, "Is a symbolic link"; too long a chain
// is ELOOP too. Anything else at the name, or nothing, is `path` as it is.
QUILLON_WIN32_API std::optional<std::string> WrittenFile(const std::string &path,
                                                         std::string *reason = nullptr);

// Replaces the file's whole content, or creates the file. The text goes to a
// new file beside it (this user's, made with `mode` less the umask) that then
// takes the name, so a write that fails half way (a full disk) leaves the old
// content whole and nobody else's file or mode is ever given to it; a file of
// the user's own keeps its permissions and group. A link that WrittenFile
// follows has the file it leads to replaced (or made) that way, and stays the
// link it was; any other link, a folder or anything else but a plain file at
// the name is refused, never followed or opened, and so is a file this user
// may not write. Where no new file can be made beside
// it (a folder that may not be written) the user's own file is rewritten in
// place. Its new file is made as CreateFileBeside makes one, and held locked
// while it is written. FALSE when the text cannot be written; errno tells why,
// and `reason`, when given, says it for the user.
QUILLON_WIN32_API BOOL ReplaceFileContent(const std::string &path, const std::string &text,
                                          std::string *reason = nullptr, unsigned mode = 0600);

// A new file written complete beside the file it is to replace, in the folder
// held open as `dirFd`; removed unless commit() gives it the file's name.
struct QUILLON_WIN32_API StagedFile
{
    StagedFile() = default;
    ~StagedFile();
    StagedFile(StagedFile &&other) noexcept;
    StagedFile &operator=(StagedFile &&) = delete;

    // Renames the new file to `leaf` in the folder; false with errno set, the
    // new file then removed.
    bool commit();
    void discard();

    std::string path;      // the file it replaces, WrittenFile's answer
    std::string temporary; // the new file's path ("" when there is none)
    int dirFd = -1;        // the folder of both
    std::string leaf;      // the file's name in it
    std::string newLeaf;   // the new file's
};

// Several files replaced together, as ReplaceFileContent replaces one: every
// new text is written completely, beside its file, before the first file
// takes its new content, so a write that fails (a full disk) leaves every file
// as it was. Commit then gives them their names in the order they were added.
// Nothing is rewritten in place: where no new file can be made beside one, the
// group fails, since a file changed in place could not be put back when a
// later one fails. New files not committed go with Discard or the destructor.
class QUILLON_WIN32_API FileReplacementGroup
{
public:
    FileReplacementGroup() = default;
    ~FileReplacementGroup();
    FileReplacementGroup(const FileReplacementGroup &) = delete;
    FileReplacementGroup &operator=(const FileReplacementGroup &) = delete;

    // Writes `text` to a new file for `path`, checked, made and refused as
    // ReplaceFileContent does it; nothing takes a name yet. FALSE with errno
    // set and `reason` saying why: the new files of the group are then all
    // removed, and later Adds and the Commit fail (ECANCELED).
    BOOL Add(const std::string &path, const std::string &text, std::string *reason = nullptr,
             unsigned mode = 0600);
    // Gives every new file its name, in order. Each name is looked at again
    // first, and one that may no longer be replaced (a folder or a read-only
    // file put there since) fails the group before anything is renamed. FALSE
    // with errno set, `reason` saying why and `failed` the position of the file
    // in the order of the Adds; the new files not yet renamed are removed.
    BOOL Commit(std::size_t *failed = nullptr, std::string *reason = nullptr);
    // Removes the new files, as if nothing had been added.
    void Discard();

private:
    std::vector<StagedFile> files_;
    bool broken_ = false;
};

// Holds each of the standard streams (descriptors 0, 1, 2) that a program was
// started without with /dev/null open for reading, so that no file it opens
// later takes a stream's number and receives what is printed there; writes to
// such a stream still fail (EBADF). For the start of main.
QUILLON_WIN32_API void KeepStandardStreamsOpen();

// Opens a file to read it. Only a plain file is opened (links followed): a
// FIFO, a device or a folder is refused before it is opened, so that nothing
// blocks or happens on opening. The descriptor (close-on-exec), or -1 with
// errno set and `reason` saying why for the user ("Not a regular file" where
// the system has no word for it).
QUILLON_WIN32_API int OpenInputFile(const std::string &path, std::string *reason = nullptr);

// The largest file ReadInputFile reads: settings, job files, shows and scripts
// are far smaller, and a larger one (a sparse file of gigabytes, say) would
// cost its size in memory and seconds of parsing for nothing.
inline constexpr std::size_t kLargestInputFile = std::size_t{64} << 20;

// The whole content of a file that OpenInputFile opens; nullopt with errno
// set, and `reason` saying why, when it cannot be read or is larger than
// kLargestInputFile (EFBIG). `status`, when given, gets the status of the file
// that was read, as it was opened.
QUILLON_WIN32_API std::optional<std::string> ReadInputFile(const std::string &path,
                                                           std::string *reason = nullptr,
                                                           struct stat *status = nullptr);

// Creates the folder and every missing parent; true when the folder exists
// afterwards. `reason`, when given, says why it does not.
QUILLON_WIN32_API bool ForceDirectories(const std::string &path, std::string *reason = nullptr);

// The folder of the running program, ending in '/'.
QUILLON_WIN32_API std::string GetProgramFolder();

} // namespace win32
