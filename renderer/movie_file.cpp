#include "renderer/movie_file.h"

#include "platform/win32/files.h"

#include <cerrno>
#include <cstring>

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

std::string MovieFile::Create(const std::string &movie)
{
    movie_ = movie;
    const DWORD attributes = win32::GetFileAttributesA(movie);
    if (attributes != win32::INVALID_FILE_ATTRIBUTES) {
        if (attributes & win32::FILE_ATTRIBUTE_DIRECTORY)
            return CreateMessage(movie, EISDIR);
        if (attributes & win32::FILE_ATTRIBUTE_READONLY)
            return ReadOnlyMessage(movie);
    }
    // Another user's movie in a sticky folder is refused here, found now
    // rather than once the movie is made.
    return file_.Create(movie, 0666) ? std::string() : CreateMessage(movie, errno);
}

std::string MovieFile::Commit()
{
    if (file_.Commit())
        return {};
    const int error = errno;
    const DWORD attributes = win32::GetFileAttributesA(movie_);
    if (error == EACCES && attributes != win32::INVALID_FILE_ATTRIBUTES
        && (attributes & win32::FILE_ATTRIBUTE_READONLY))
        return ReadOnlyMessage(movie_);
    return CreateMessage(movie_, error);
}

} // namespace mureline
