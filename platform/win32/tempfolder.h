// The temporary folder, which on Linux is the job folder: where the program
// writes the job files and the script and where the renderer and the frame
// server read them. As on Windows it belongs to one user: nobody else may put
// a file or a link into it.
#pragma once

#include "platform/win32/types.h"

#include <string>

namespace win32 {

// The process's temporary folder, ending in '/': the folder given to
// SetTempFolder, else "quillon-<uid>/" inside $TMPDIR when it is set and not
// empty, else inside /tmp. It is made with mode 0700 when missing and checked
// before every use without following links (see CheckPrivateFolder). "" when
// it is refused; TempFolderProblem() then says why.
QUILLON_WIN32_API std::string GetTempPathA();

// Why the latest GetTempPathA on this thread answered "", naming the folder;
// "" after one that answered a folder.
QUILLON_WIN32_API std::string TempFolderProblem();

// Makes `folder` the temporary folder of the whole process, in place of the
// private one ("" goes back to it). It is checked like the private one.
QUILLON_WIN32_API void SetTempFolder(const std::string &folder);

// Makes `folder` (ending in '/' or not) with mode 0700 when it is missing and
// its parent exists, then checks it without following links: a folder, owned
// by this user, that nobody else may enter, in a folder that others cannot
// change (or that is sticky, like /tmp). "" when it may be used, otherwise the
// message the user sees, naming the folder and the reason.
QUILLON_WIN32_API std::string CheckPrivateFolder(const std::string &folder);

// The slide-show script's fixed place: temp.avs in the temporary folder; ""
// when the temporary folder is refused. The script writer and the renderer
// both take it from here.
QUILLON_WIN32_API std::string FixedScriptPath();

// An exclusive hold on a folder, shared by no other process (nor by another
// FolderLock of this one) until it is released or destroyed, or the process
// ends however it ends.
class QUILLON_WIN32_API FolderLock
{
public:
    FolderLock() = default;
    FolderLock(FolderLock &&other) noexcept;
    FolderLock &operator=(FolderLock &&other) noexcept;
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    ~FolderLock();

    enum class Result { Taken, Busy, Failed };
    // Takes the lock of `folder` without waiting: Busy when another holds it,
    // Failed (errno says why) when the folder cannot be opened. A link is not
    // followed.
    Result TryLock(const std::string &folder);
    void Release();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace win32
