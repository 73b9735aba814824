#include "platform/win32/ini.h"

#include "platform/win32/files.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace win32 {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

struct Line
{
    std::size_t begin;      // first byte of the line
    std::size_t contentEnd; // first byte of the line break (or end of text)
    std::size_t end;        // first byte after the line break
};

// What some editors put at the start of a UTF-8 text: not part of its first
// line, and left where it stands when the text is changed.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Hands each line of the text to `use`, in order; CR LF, LF and CR end a line.
template <typename Use>
void forEachLine(std::string_view text, Use &&use)
{
    std::size_t pos = text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
    while (pos < text.size()) {
        std::size_t stop = pos;
        while (stop < text.size() && text[stop] != '\n' && text[stop] != '\r')
            ++stop;
        std::size_t next = stop;
        if (next < text.size()) {
            if (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n')
                next += 2;
            else
                next += 1;
        }
        use(Line{pos, stop, next});
        pos = next;
    }
}

std::vector<Line> splitLines(const std::string &text)
{
    std::vector<Line> lines;
    forEachLine(text, [&](const Line &line) { lines.push_back(line); });
    return lines;
}

enum class Kind { Other, Section, Key };

struct Parsed
{
    Kind kind = Kind::Other;
    std::string_view name;
    std::string_view value;
};

Parsed parseLine(std::string_view content)
{
    std::string_view s = trim(content);
    Parsed p;
    if (s.empty() || s.front() == ';')
        return p;
    if (s.front() == '[') {
        std::size_t close = s.find(']');
        p.kind = Kind::Section;
        p.name = trim(s.substr(1, close == std::string_view::npos ? s.npos : close - 1));
        return p;
    }
    std::size_t eq = s.find('=');
    if (eq == std::string_view::npos)
        return p;
    p.kind = Kind::Key;
    p.name = trim(s.substr(0, eq));
    p.value = trim(s.substr(eq + 1));
    if (p.value.size() >= 2 && (p.value.front() == '"' || p.value.front() == '\'')
        && p.value.back() == p.value.front())
        p.value = p.value.substr(1, p.value.size() - 2);
    return p;
}

struct Located
{
    std::optional<std::size_t> sectionLine; // index of the first matching header
    std::optional<std::size_t> keyLine;     // index of the first matching key in it
    std::size_t lastContentLine = 0;        // last non-empty line of that section
    std::string value;
};

Located locate(const std::string &text, const std::vector<Line> &lines, const std::string &section,
               const std::string &key)
{
    Located found;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view content(text.data() + lines[i].begin,
                                 lines[i].contentEnd - lines[i].begin);
        Parsed p = parseLine(content);
        if (!found.sectionLine) {
            if (p.kind == Kind::Section && sameName(p.name, section)) {
                found.sectionLine = i;
                found.lastContentLine = i;
            }
            continue;
        }
        if (p.kind == Kind::Section)
            break;
        if (!trim(content).empty())
            found.lastContentLine = i;
        if (p.kind == Kind::Key && sameName(p.name, key)) {
            found.keyLine = i;
            found.value = std::string(p.value);
            break;
        }
    }
    return found;
}

// The whole file, or nullopt when it cannot be read (errno says why). Only a
// plain file is read: a FIFO in its place would block for ever.
std::optional<std::string> readFile(const std::string &fileName)
{
    return ReadInputFile(fileName);
}

std::optional<int> parseInteger(std::string_view s)
{
    if (s.empty())
        return std::nullopt;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        std::uint32_t value = 0;
        std::string_view digits = s.substr(2);
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (ec != std::errc() || ptr != digits.data() + digits.size())
            return std::nullopt;
        return static_cast<int>(value); // 0xFFFFFFFF reads as -1, as a 32-bit register would
    }
    if (s.front() == '+')
        s.remove_prefix(1);
    if (s.empty() || s.front() == '+')
        return std::nullopt;
    int value = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
    if (ec != std::errc() || ptr != s.data() + s.size())
        return std::nullopt;
    return value;
}

struct Overrides
{
    std::mutex mutex;
    // (file, section, key) with section and key in lower case.
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
};

Overrides &overrides()
{
    static Overrides *o = new Overrides; // never destroyed: read until the process ends
    return *o;
}

std::string lowered(const std::string &text)
{
    std::string result(trim(text));
    for (char &c : result)
        c = lower(c);
    return result;
}

std::optional<std::string> overridden(const std::string &section, const std::string &key,
                                      const std::string &fileName)
{
    Overrides &o = overrides();
    std::lock_guard lock(o.mutex);
    if (o.values.empty())
        return std::nullopt;
    auto it = o.values.find({fileName, lowered(section), lowered(key)});
    if (it == o.values.end())
        return std::nullopt;
    return it->second;
}

} // namespace

void SetPrivateProfileOverride(const std::string &section, const std::string &key,
                               const std::optional<std::string> &value, const std::string &fileName)
{
    Overrides &o = overrides();
    std::lock_guard lock(o.mutex);
    const auto at = std::make_tuple(fileName, lowered(section), lowered(key));
    if (value)
        o.values[at] = *value;
    else
        o.values.erase(at);
}

namespace {

struct Pins
{
    std::mutex mutex;
    std::map<std::string, Profile> profiles; // by file name
};

Pins &pins()
{
    static Pins *p = new Pins; // never destroyed: read until the process ends
    return *p;
}

Profile::Stamp stampOf(const struct stat &st)
{
    auto nanoseconds = [](const timespec &t) {
        return static_cast<long long>(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return {true,
            static_cast<unsigned long long>(st.st_dev),
            static_cast<unsigned long long>(st.st_ino),
            static_cast<long long>(st.st_size),
            nanoseconds(st.st_mtim),
            nanoseconds(st.st_ctim)};
}

// The file at the name now, as a read would open it (links followed).
Profile::Stamp stampAt(const std::string &fileName)
{
    struct stat st
    {};
    if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0)
        return {};
    return stampOf(st);
}

} // namespace

Profile Profile::Read(const std::string &fileName)
{
    {
        Pins &p = pins();
        std::lock_guard lock(p.mutex);
        if (auto it = p.profiles.find(fileName); it != p.profiles.end())
            return it->second;
    }
    Profile profile;
    profile.fileName_ = fileName;
    struct stat st
    {};
    profile.text_ = ReadInputFile(fileName, nullptr, &st);
    profile.stamp_ = profile.text_ ? stampOf(st) : stampAt(fileName);
    return profile;
}

std::string Profile::GetString(const std::string &section, const std::string &key,
                               const std::string &defaultValue, std::size_t bufferSize) const
{
    std::string result = defaultValue;
    if (auto value = overridden(section, key, fileName_)) {
        result = std::move(*value);
    } else if (text_) {
        Located found = locate(*text_, splitLines(*text_), section, key);
        if (found.keyLine)
            result = std::move(found.value);
    }
    if (bufferSize > 0 && result.size() > bufferSize - 1)
        result.resize(bufferSize - 1);
    return result;
}

int Profile::GetInt(const std::string &section, const std::string &key, int defaultValue) const
{
    if (auto value = overridden(section, key, fileName_))
        return parseInteger(trim(*value)).value_or(defaultValue);
    if (!text_)
        return defaultValue;
    Located found = locate(*text_, splitLines(*text_), section, key);
    if (!found.keyLine)
        return defaultValue;
    return parseInteger(found.value).value_or(defaultValue);
}

bool Profile::Changed() const
{
    return !pinned_ && stampAt(fileName_) != stamp_;
}

void PinProfile(const std::string &fileName, const std::optional<Profile> &profile)
{
    Pins &p = pins();
    std::lock_guard lock(p.mutex);
    if (!profile) {
        p.profiles.erase(fileName);
        return;
    }
    Profile pinned = *profile;
    pinned.fileName_ = fileName;
    pinned.pinned_ = true;
    p.profiles.insert_or_assign(fileName, std::move(pinned));
}

std::string GetPrivateProfileStringA(const std::string &section, const std::string &key,
                                     const std::string &defaultValue, const std::string &fileName,
                                     std::size_t bufferSize)
{
    return Profile::Read(fileName).GetString(section, key, defaultValue, bufferSize);
}

int GetPrivateProfileIntA(const std::string &section, const std::string &key, int defaultValue,
                          const std::string &fileName)
{
    return Profile::Read(fileName).GetInt(section, key, defaultValue);
}

std::vector<ProfileSection> ParseProfile(std::string_view text)
{
    // Line by line: a list of every line first would cost far more than the
    // text (24 bytes for each, and a file of blank lines has one a byte).
    std::vector<ProfileSection> sections;
    forEachLine(text, [&](const Line &line) {
        const Parsed p = parseLine(text.substr(line.begin, line.contentEnd - line.begin));
        if (p.kind == Kind::Section)
            sections.push_back({std::string(p.name), {}});
        else if (p.kind == Kind::Key && !sections.empty())
            sections.back().keys.emplace_back(std::string(p.name), std::string(p.value));
    });
    return sections;
}

namespace {

// The text of an INI file about to be changed: "" when there is no file yet,
// nullopt (errno set) when it may not or cannot be changed.
std::optional<std::string> readForChange(const std::string &fileName)
{
    struct stat st
    {};
    if (::stat(fileName.c_str(), &st) != 0)
        return errno == ENOENT ? std::optional<std::string>("") : std::nullopt;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return std::nullopt;
    }
    // A file without any write permission counts as read-only, for root too.
    if ((st.st_mode & 0222) == 0) {
        errno = EACCES;
        return std::nullopt;
    }
    return readFile(fileName);
}

// Sets `key` of `section` in `text` to `value`, as a write of the key changes
// the file: only that key's line, or a line added at the end of the section,
// or the section added at the end of the text.
void setKey(std::string &text, const std::string &section, const std::string &key,
            const std::string &value)
{
    const std::string entry = key + "=" + value;
    const std::vector<Line> lines = splitLines(text);
    Located found = locate(text, lines, section, key);
    if (found.keyLine) {
        const Line &line = lines[*found.keyLine];
        text.replace(line.begin, line.contentEnd - line.begin, entry);
    } else if (found.sectionLine) {
        const Line &line = lines[found.lastContentLine];
        std::string insert = entry + "\r\n";
        if (line.end == line.contentEnd) // the section's last line has no line break
            insert = "\r\n" + insert;
        text.insert(line.end, insert);
    } else {
        if (!text.empty() && text.back() != '\n' && text.back() != '\r')
            text += "\r\n";
        if (!text.empty())
            text += "\r\n";
        text += "[" + section + "]\r\n" + entry + "\r\n";
    }
}

// Removes the line of `key` in `section` from `text`; false when there is none.
bool removeKey(std::string &text, const std::string &section, const std::string &key)
{
    const std::vector<Line> lines = splitLines(text);
    const Located found = locate(text, lines, section, key);
    if (!found.keyLine)
        return false;
    const Line &line = lines[*found.keyLine];
    text.erase(line.begin, line.end - line.begin);
    return true;
}

} // namespace

BOOL WritePrivateProfileStringA(const std::string &section, const std::string &key,
                                const std::string &value, const std::string &fileName)
{
    return WritePrivateProfileKeysA(section, {{key, value}}, fileName);
}

std::optional<std::string> PrivateProfileTextWithKeys(const std::string &section,
                                                      const std::vector<ProfileKey> &keys,
                                                      const std::string &fileName, bool *changed)
{
    std::optional<std::string> text = readForChange(fileName);
    if (!text)
        return std::nullopt;
    bool any = false;
    for (const ProfileKey &k : keys) {
        if (k.value) {
            setKey(*text, section, k.key, *k.value);
            any = true;
        } else if (removeKey(*text, section, k.key)) {
            any = true;
        }
    }
    if (changed)
        *changed = any;
    return text;
}

BOOL WritePrivateProfileKeysA(const std::string &section, const std::vector<ProfileKey> &keys,
                              const std::string &fileName)
{
    bool changed = false;
    const std::optional<std::string> text
        = PrivateProfileTextWithKeys(section, keys, fileName, &changed);
    if (!text)
        return FALSE;
    return changed ? ReplaceFileContent(fileName, *text) : TRUE;
}

BOOL DeletePrivateProfileKeyA(const std::string &section, const std::string &key,
                              const std::string &fileName)
{
    return WritePrivateProfileKeysA(section, {{key, std::nullopt}}, fileName);
}

} // namespace win32
