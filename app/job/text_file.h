// Saving a whole text file the way the framework's string lists do: created, or
// replaced as a whole when it exists.
#pragma once

#include <string>

namespace quillon {

// Raises forms::EFCreateError ("Cannot create file "%s". %s") when the file
// cannot be created or fully written. A new file is made with `mode` less the
// umask; a file of the user's own that it replaces keeps its permissions.
void SaveTextFile(const std::string &path, const std::string &text, unsigned mode = 0600);

} // namespace quillon
