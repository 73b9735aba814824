// The recursive picture scan behind the add-folder command, without any GUI so
// that the headless tool uses the very same scan.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// Appends the path of every ".jpg" and ".bmp" file (extension compared exactly)
// at or below `path`, depth first, in the order the file system lists each
// folder. Hidden files and folders are included. A folder reached again through
// a link is not scanned a second time, so a link back to a parent cannot make
// the scan endless.
void ScanPictureFolder(std::vector<std::string> &list, const std::string &path);

} // namespace quillon
