// The movie's file while it is being made: a new file beside the movie, which
// takes the movie's name only once it is complete. An earlier movie stays as it
// was until then, and whatever stands at the movie's name (a link, another
// user's file) is replaced as a name, never opened or written through. The new
// file is held locked while it is made, so that a render that was killed before
// it could remove its new file has it removed by the next one into the folder.
#pragma once

#include "platform/win32/files.h"

#include <string>

namespace mureline {

class MovieFile
{
public:
    // Refuses a movie that may not be replaced (a read-only file, a folder,
    // another user's in a sticky folder) and makes the new file, which clears
    // the new files that killed renders left beside it. "" when it is made,
    // otherwise the message for the user, naming the movie and the reason.
    std::string Create(const std::string &movie);
    // Where the render writes: the new file's path, and a descriptor of it
    // open for reading and writing.
    const std::string &TemporaryPath() const { return file_.NewPath(); }
    int Descriptor() const { return file_.Descriptor(); }
    // Gives the finished file the movie's name. "" when done, otherwise the
    // message for the user; the new file is then removed.
    std::string Commit();
    // Removes the new file now, as a render that failed does before it says so.
    void Discard() { file_.Discard(); }
    // `message` with the movie's name where it names the new file: the user
    // asked for the movie and never sees the new file's name.
    std::string NamingTheMovie(std::string message) const;

private:
    std::string movie_;
    std::string temporary_;  // the new file's path, kept after it is removed
    win32::FileBeside file_; // removes the new file unless it has become the movie
};

} // namespace mureline
