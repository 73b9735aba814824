// Saving a whole text file the way the framework's string lists do: created, or
// replaced as a whole when it exists.
#pragma once

#include <string>

namespace quillon {

// Raises forms::EFCreateError ("Cannot create file "%s". %s") when the file
// cannot be created or fully written.
void SaveTextFile(const std::string &path, const std::string &text);

} // namespace quillon
