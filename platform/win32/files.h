// Paths, file attributes and folder listings.
#pragma once

#include "platform/win32/types.h"

#include <optional>
#include <string>
#include <vector>

namespace win32 {

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// $TMPDIR when set and not empty, else /tmp; always ends in '/'.
QUILLON_WIN32_API std::string GetTempPathA();

// The short form of an existing path is the path itself; "" when it does not exist.
QUILLON_WIN32_API std::string GetShortPathNameA(const std::string &path);

// Directory 16, read-only 1 (no write permission bits), hidden 2 (a dot name),
// archive 32 (anything that is not a folder); INVALID_FILE_ATTRIBUTES when the
// path cannot be read. Links are followed.
QUILLON_WIN32_API DWORD GetFileAttributesA(const std::string &path);

// Every entry of the folder but "." and "..", in the order the file system the
// system was designed for yields them, which keeps its folders sorted: by name
// with ASCII letters compared as capitals, names equal that way by their exact
// bytes. A camera's IMG_0001 ... IMG_0100 come back in the order they were
// shot, whatever order the disk keeps. nullopt when the folder cannot be listed.
QUILLON_WIN32_API std::optional<std::vector<std::string>> ListFolder(const std::string &path);

// What makes a file or folder the same one when it is reached by two paths.
struct FileIdentity
{
    unsigned long long device = 0;
    unsigned long long inode = 0;
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
    friend auto operator<=>(const FileIdentity &, const FileIdentity &) = default;
};
QUILLON_WIN32_API std::optional<FileIdentity> GetFileIdentity(const std::string &path);

QUILLON_WIN32_API bool FileExists(const std::string &path);      // anything but a folder
QUILLON_WIN32_API bool DirectoryExists(const std::string &path); // a folder, links followed

// Removes a file (never a folder); FALSE when there was none or it stays.
QUILLON_WIN32_API BOOL DeleteFileA(const std::string &path);

// Replaces the file's whole content, or creates the file. The text goes to a
// new file beside it that then takes the name, so a write that fails half way
// (a full disk) leaves the old content whole; the file keeps its permissions
// and owner, and a link keeps pointing at it. Where no new file can be made
// beside it (a folder that may not be written) the file is rewritten in place.
// FALSE when the text cannot be written; errno tells why.
QUILLON_WIN32_API BOOL ReplaceFileContent(const std::string &path, const std::string &text);

// Creates the folder and every missing parent; true when the folder exists afterwards.
QUILLON_WIN32_API bool ForceDirectories(const std::string &path);

// The folder of the running program, ending in '/'.
QUILLON_WIN32_API std::string GetProgramFolder();

// The slide-show script's fixed place: temp.avs in the temporary folder. The
// script writer and the renderer both take it from here.
QUILLON_WIN32_API std::string FixedScriptPath();

} // namespace win32
