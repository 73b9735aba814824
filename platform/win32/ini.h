// Private-profile INI files with the Windows rules: sections and keys compare
// case-insensitively, blanks around names and values are trimmed, surrounding
// quotes are stripped, the first of duplicate sections or keys wins, and a write
// replaces only its own key's line, keeping every other byte of the file.
#pragma once

#include "platform/win32/types.h"

#include <cstddef>
#include <string>

namespace win32 {

// The value of `key`, or `defaultValue` when the file, the section or the key is
// missing, or the file is not a plain file (a FIFO is never opened). A present but empty value is
// returned as "". With a non-zero `bufferSize` the result is cut to bufferSize - 1 characters, as a
// caller's buffer of that size would cut it.
QUILLON_WIN32_API std::string GetPrivateProfileStringA(const std::string &section,
                                                       const std::string &key,
                                                       const std::string &defaultValue,
                                                       const std::string &fileName,
                                                       std::size_t bufferSize = 0);

// Decimal (with an optional sign) or hexadecimal with 0x/0X; `defaultValue` for a
// missing key and for anything that is not such a number as a whole.
QUILLON_WIN32_API int GetPrivateProfileIntA(const std::string &section, const std::string &key,
                                            int defaultValue, const std::string &fileName);

// Creates the file and the section when missing, as ReplaceFileContent writes
// files. FALSE when the file cannot be read back or written (a folder, a link
// or anything but a plain file in its place, a missing folder, a read-only
// file), and errno tells why.
QUILLON_WIN32_API BOOL WritePrivateProfileStringA(const std::string &section,
                                                  const std::string &key, const std::string &value,
                                                  const std::string &fileName);

// Removes the key's line, as a write of a null value does on Windows. TRUE
// without touching anything when the file, the section or the key is missing;
// FALSE as WritePrivateProfileStringA fails.
QUILLON_WIN32_API BOOL DeletePrivateProfileKeyA(const std::string &section, const std::string &key,
                                                const std::string &fileName);

} // namespace win32
