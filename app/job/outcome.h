// After a movie is made: the outcome box names the movie and offers to play it
// with the desktop's player or to show the folder it is in, through the shell
// as the output folder's "Open" does. When the desktop has no program for
// either, a message says so.
#pragma once

#include "platform/win32/types.h"

#include <string>

namespace quillon {

// The IDs of the outcome box's own buttons.
inline constexpr int IDPLAY = 100;
inline constexpr int IDSHOWINFOLDER = 101;

// Shows `text` with the movie's path and the buttons "Play", "Show in Folder"
// and OK, then does what was chosen.
void ShowMovieOutcome(HWND owner, const std::string &caption, const std::string &text,
                      const std::string &movie);

// Asks the shell to open `file` (a movie or a folder); when the desktop has no
// program for it, says so in a message box. True when it was opened.
bool OpenWithDesktop(HWND owner, const std::string &caption, const std::string &file);

// The message for a file or folder that the desktop has no program to open.
std::string NothingToOpenMessage(const std::string &file);

} // namespace quillon
