// The slide-show script writer: turns the photo list and three output settings
// into the script that the renderer opens.
#pragma once

#include "app/job/movie_options.h"

#include <string>
#include <vector>

namespace quillon {

// The script's text, each line followed by CRLF: 5n + 2 lines with the
// default `movie`, which writes every photo stretched to the standard's size
// at 25 frames a second. Its frame size, frame rate, fit and orientation
// choices change the lines of each photo; the default lines stay as they are.
// Raises forms::EConvertError for an interval that is not a whole number, and
// forms::Exception for a photo path that the script cannot carry (a double quote
// or a line break in it).
std::string BuildScript(const std::vector<std::string> &photos, int standard, int resolution,
                        const std::string &intervalText, const MovieOptions &movie = {});

// Writes BuildScript's text to win32::FixedScriptPath(), replacing the file.
// Nothing is written when the text cannot be built; raises forms::EFCreateError
// when the file cannot be created or written.
void WriteScript(const std::vector<std::string> &photos, int standard, int resolution,
                 const std::string &intervalText, const MovieOptions &movie = {});

// Whether a path can stand between the script's quotes and on one line of the
// job's photo list.
bool PathFitsScript(const std::string &path);

// The text of the error raised for a path that PathFitsScript refuses.
std::string UnusablePhotoMessage(const std::string &path);

} // namespace quillon
