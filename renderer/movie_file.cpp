#include "renderer/movie_file.h"

#include "platform/win32/files.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace mureline {

namespace {

std::string ReadOnlyMessage(const std::string &movie)
{
    return "The movie \"" + movie + "\" is read-only: it is not replaced.";
}

std::string CreateMessage(const std::string &movie, int error)
{
    return "Cannot create file \"" + movie + "\". " + std::strerror(error);
}

} // namespace

MovieFile::~MovieFile()
{
    if (!temporary_.empty())
        win32::DeleteFileA(temporary_);
    if (held_ >= 0)
        ::close(held_);
}

std::string MovieFile::Create(const std::string &movie)
{
    movie_ = movie;
    const DWORD attributes = win32::GetFileAttributesA(movie);
    if (attributes != win32::INVALID_FILE_ATTRIBUTES) {
        if (attributes & win32::FILE_ATTRIBUTE_DIRECTORY)
            return CreateMessage(movie, EISDIR);
        if (attributes & win32::FILE_ATTRIBUTE_READONLY)
            return ReadOnlyMessage(movie);
        // Found now rather than once the movie is made.
        if (win32::StickyFolderKeepsFile(movie))
            return CreateMessage(movie, EPERM);
    }
    temporary_ = win32::CreateFileBeside(movie, 0666, &held_);
    return temporary_.empty() ? CreateMessage(movie, errno) : std::string();
}

std::string MovieFile::Commit()
{
    const bool moved = win32::MoveFileExA(temporary_, movie_, win32::MOVEFILE_REPLACE_EXISTING);
    const int error = errno;
    if (!moved)
        win32::DeleteFileA(temporary_);
    temporary_.clear();
    // Unlocked only once the new file has gone from its name either way.
    if (held_ >= 0) {
        ::close(held_);
        held_ = -1;
    }
    if (moved)
        return {};
    const DWORD attributes = win32::GetFileAttributesA(movie_);
    if (error == EACCES && attributes != win32::INVALID_FILE_ATTRIBUTES
        && (attributes & win32::FILE_ATTRIBUTE_READONLY))
        return ReadOnlyMessage(movie_);
    return CreateMessage(movie_, error);
}

} // namespace mureline
