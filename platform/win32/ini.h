// Private-profile INI files with the Windows rules: sections and keys compare
// case-insensitively, blanks around names and values are trimmed, surrounding
// quotes are stripped, the first of duplicate sections or keys wins, and a write
// replaces only its own key's line, keeping every other byte of the file.
#pragma once

#include "platform/win32/types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// files (through the user's own link, too). FALSE when the file cannot be read
// back or written (a folder, a link it does not follow or anything but a plain
// file in its place, a missing folder, a read-only file), and errno tells why.
QUILLON_WIN32_API BOOL WritePrivateProfileStringA(const std::string &section,
                                                  const std::string &key, const std::string &value,
                                                  const std::string &fileName);

// One key of a write of several: `value` nothing removes the key's line.
struct ProfileKey
{
    std::string key;
    std::optional<std::string> value;
};

// Several keys of one section changed, in order, as the single writes and
// removals of them would change the text, but in one replacement of the file:
// a reader sees all of the changes or none of them, and a failure (FALSE, as
// WritePrivateProfileStringA fails) leaves the file as it was. A file that no
// change touches is left alone.
QUILLON_WIN32_API BOOL WritePrivateProfileKeysA(const std::string &section,
                                                const std::vector<ProfileKey> &keys,
                                                const std::string &fileName);

// The text that WritePrivateProfileKeysA would write, the file's own with the
// changes made, without writing it: for a caller that replaces the file
// together with others (FileReplacementGroup). "" for a missing file; nullopt,
// with errno set, where WritePrivateProfileKeysA fails before writing.
// `changed`, when given, says whether any change touched the text.
QUILLON_WIN32_API std::optional<std::string>
PrivateProfileTextWithKeys(const std::string &section, const std::vector<ProfileKey> &keys,
                           const std::string &fileName, bool *changed = nullptr);

// For the rest of this process, reads of `key` in `section` of the file named
// exactly `fileName` give `value` (nothing: the file's own again), whatever the
// file holds; the file itself is left as it is. For a tool that runs with a
// setting of its own without changing the user's file.
QUILLON_WIN32_API void SetPrivateProfileOverride(const std::string &section, const std::string &key,
                                                 const std::optional<std::string> &value,
                                                 const std::string &fileName);
// A profile file read once. Its answers are those that GetPrivateProfileStringA
// and GetPrivateProfileIntA, which read the file again for every key, would
// have given at the moment of the read, whatever becomes of the file after:
// keys taken together come from one version of the file.
class QUILLON_WIN32_API Profile
{
public:
    // Reads the file; a file pinned with PinProfile gives the pinned profile.
    static Profile Read(const std::string &fileName);

    std::string GetString(const std::string &section, const std::string &key,
                          const std::string &defaultValue, std::size_t bufferSize = 0) const;
    int GetInt(const std::string &section, const std::string &key, int defaultValue) const;

    // True when the name no longer holds the file that was read: it has been
    // replaced, changed, removed or made since. Never for a pinned profile,
    // whose text this process reads whatever becomes of the file.
    bool Changed() const;

    // What identifies one version of a file at a name; `present` false for none.
    struct Stamp
    {
        bool present = false;
        unsigned long long device = 0, inode = 0;
        long long size = 0, modified = 0, changed = 0; // nanoseconds
        bool operator==(const Stamp &) const = default;
    };

private:
    std::string fileName_;
    std::optional<std::string> text_; // nothing: unreadable or missing
    Stamp stamp_;
    bool pinned_ = false;

    friend QUILLON_WIN32_API void PinProfile(const std::string &, const std::optional<Profile> &);
};

// For the rest of this process, reads of the file named exactly `fileName`
// (GetPrivateProfileStringA, GetPrivateProfileIntA, Profile::Read) give the
// text of `profile` whatever the file holds; nothing: the file's own again.
// Overrides of single keys still come first. For a host that must announce
// exactly the values that a library it loads reads from the same file.
QUILLON_WIN32_API void PinProfile(const std::string &fileName,
                                  const std::optional<Profile> &profile);

// One section of a profile as the reading rules above see it: its name and its
// keys with their values, trimmed and unquoted, in the order of the text.
struct ProfileSection
{
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
};

// Every section of a profile's text in one pass, for a reader that takes a
// whole file at once. Duplicate sections and keys all stay, in order (the
// readers above take the first of each); lines before the first section and
// lines that are neither a section nor a key are left out.
QUILLON_WIN32_API std::vector<ProfileSection> ParseProfile(std::string_view text);
// Removes the key's line, as a write of a null value does on Windows. TRUE
// without touching anything when the file, the section or the key is missing;
// FALSE as WritePrivateProfileStringA fails.
QUILLON_WIN32_API BOOL DeletePrivateProfileKeyA(const std::string &section, const std::string &key,
                                                const std::string &fileName);

} // namespace win32
