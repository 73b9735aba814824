// The photo list file of a movie job: one photo path per line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// Lines end at CR, LF or CRLF; a last line without a break counts, a break at
// the very end adds no empty entry, an empty line between two others is an
// entry, and a NUL ends the text.
std::vector<std::string> SplitPhotoList(std::string_view text);

// The entries of the file at `path`; none when it is missing, cannot be read
// or is not a regular file (a pipe would block the host for good).
std::vector<std::string> LoadPhotoList(const std::string &path);

} // namespace brindle
