// The recursive picture scan behind the add-folder command, without any GUI so
// that the headless tool uses the very same scan.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// Appends the path of every ".jpg" and ".bmp" file (extension compared exactly)
// at or below `path`, depth first, each folder in the order ListFolder gives.
// Hidden files and folders are included. A folder reached again through a link
// is not scanned a second time, so a link back to a parent cannot make the scan
// endless. Below `path` (which is scanned whoever made it a link), a link to a
// folder is followed only when it is the user's own: a link that someone else
// put into the tree could lead anywhere on the machine (to "/", to /proc).
// Links to files are taken as the files. Returns the folders that could not be
// read (`path` itself among them), as their paths are listed.
std::vector<std::string> ScanPictureFolder(std::vector<std::string> &list, const std::string &path);

// "This folder could not be read, ..." (or "These folders") and the folders, one a line (at most
// a dozen, then how many more).
std::string UnreadableFoldersMessage(const std::vector<std::string> &Folders);

} // namespace quillon
