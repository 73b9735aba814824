#include "renderer/movie_file.h"

#include "platform/win32/files.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace mureline {

namespace {

std::string ReadOnlyMessage(const std::string &movie)
{
    return "The movie \"" + movie + "\" is read-only: it is not replaced.";
}

std::string CreateMessage(const std::string &movie, int error)
{
    std::string text = "Cannot create file \"" + movie + "\". " + std::strerror(error);
    if (error == EPERM && win32::StickyFolderKeepsFile(movie))
        text += ": another user's file of that name stands in a folder where only its owner "
                "may replace it.";
    return text;
}

// A killed render of another container into the folder left its new file
// under that movie's name; the next render of any of them clears it.
void RemoveAbandonedFilesOfOtherContainers(const std::string &movie)
{
    const std::size_t slash = movie.rfind('/');
    const std::size_t dot = movie.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return;
    const std::string stem = movie.substr(0, dot);
    std::vector<std::string> others;
    for (const char *extension : {".avi", ".mp4", ".mkv", ".webm"})
        if (stem + extension != movie)
            others.push_back(stem + extension);
    win32::RemoveAbandonedFilesBeside(others);
}

} // namespace

std::string MovieFile::Create(const std::string &movie)
{
    movie_ = movie;
    RemoveAbandonedFilesOfOtherContainers(movie);
    const DWORD attributes = win32::GetFileAttributesA(movie);
    if (attributes != win32::INVALID_FILE_ATTRIBUTES) {
        if (attributes & win32::FILE_ATTRIBUTE_DIRECTORY)
            return CreateMessage(movie, EISDIR);
        if (attributes & win32::FILE_ATTRIBUTE_READONLY)
            return ReadOnlyMessage(movie);
    }
    // Another user's movie in a sticky folder is refused here, found now
    // rather than once the movie is made; so is another user's link on the
    // way, which would choose the folder and which earlier movie it replaces.
    if (!file_.Create(movie, 0666, win32::FileBeside::Links::OnlyTrusted)) {
        if (!file_.ForeignLink().empty())
            return "Cannot create file \"" + movie
                   + "\": " + win32::ForeignLinkReason(file_.ForeignLink()) + ".";
        return CreateMessage(movie, errno);
    }
    temporary_ = file_.NewPath();
    return {};
}

std::string MovieFile::NamingTheMovie(std::string message) const
{
    if (temporary_.empty())
        return message;
    const std::string from = "\"" + temporary_ + "\"";
    const std::string to = "\"" + movie_ + "\"";
    for (std::size_t at = message.find(from); at != std::string::npos;
         at = message.find(from, at + to.size()))
        message.replace(at, from.size(), to);
    return message;
}

std::string MovieFile::Commit()
{
    if (file_.Commit())
        return {};
    const int error = errno;
    if (file_.FolderLeftItsPath())
        return "Cannot create file \"" + movie_
               + "\". Its folder was moved or replaced while the movie was made.";
    const DWORD attributes = win32::GetFileAttributesA(movie_);
    if (error == EACCES && attributes != win32::INVALID_FILE_ATTRIBUTES
        && (attributes & win32::FILE_ATTRIBUTE_READONLY))
        return ReadOnlyMessage(movie_);
    return CreateMessage(movie_, error);
}

} // namespace mureline
