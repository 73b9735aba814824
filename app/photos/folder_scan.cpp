#include "app/photos/folder_scan.h"

#include "platform/win32/files.h"

#include <set>

namespace quillon {

namespace {

// The extension from the last dot of the file name, dot included.
std::string extensionOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return path.substr(dot);
}

void scan(std::vector<std::string> &list, const std::string &path,
          std::set<win32::FileIdentity> &visited)
{
    const DWORD attributes = win32::GetFileAttributesA(path);
    const bool folder = attributes != win32::INVALID_FILE_ATTRIBUTES
                        && (attributes & win32::FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!folder) {
        const std::string extension = extensionOf(path);
        if (extension == ".jpg" || extension == ".bmp")
            list.push_back(path);
        return;
    }
    const auto identity = win32::GetFileIdentity(path);
    if (!identity || !visited.insert(*identity).second)
        return;
    const auto names = win32::ListFolder(path);
    if (!names)
        return;
    for (const std::string &name : *names)
        scan(list, path + "/" + name, visited);
}

} // namespace

void ScanPictureFolder(std::vector<std::string> &list, const std::string &path)
{
    std::set<win32::FileIdentity> visited;
    scan(list, path, visited);
}

} // namespace quillon
