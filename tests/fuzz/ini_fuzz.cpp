// Feeds arbitrary bytes to the private-profile INI reader and writer as the
// file's text, and holds them to their rules: a value written is read back, a
// write changes no other key, writing the same value again changes no byte, and
// a file that never had the section gets it.
#include "fuzz_support.h"

#include "platform/win32/ini.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Name
{
    const char *section;
    const char *key;
};

// The keys the system itself reads and writes, and others that try the rules
// (case, blanks, a name that is a prefix of another).
constexpr Name kNames[] = {
    {"Temp", "OutputWidth"},
    {"Temp", "OutputHeight"},
    {"Temp", "Interval"},
    {"temp", "INTERVAL"},
    {"ApplicationInfo", "Homepage"},
    {"ApplicationInfo", "HelpFile"},
    {"A", "k"},
    {"A", "kk"},
    {"", ""},
};

bool sameText(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i]))
            != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool sameName(const Name &a, const Name &b)
{
    return sameText(a.section, b.section) && sameText(a.key, b.key);
}

std::string readBack(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> readAll(const std::string &path)
{
    std::vector<std::string> values;
    for (const Name &name : kNames) {
        values.push_back(win32::GetPrivateProfileStringA(name.section, name.key, "\x01", path));
        win32::GetPrivateProfileIntA(name.section, name.key, -7, path);
        // A caller's short buffer cuts the value, never more.
        const std::string cut
            = win32::GetPrivateProfileStringA(name.section, name.key, "", path, 4);
        FUZZ_CHECK(cut.size() <= 3);
    }
    return values;
}

void writeAndCheck(const std::string &path, std::size_t which, const std::string &value)
{
    const Name &target = kNames[which];
    const std::vector<std::string> before = readAll(path);
    FUZZ_CHECK(win32::WritePrivateProfileStringA(target.section, target.key, value, path));
    FUZZ_CHECK(win32::GetPrivateProfileStringA(target.section, target.key, "\x01", path) == value);
    const std::vector<std::string> after = readAll(path);
    for (std::size_t i = 0; i < before.size(); ++i)
        if (!sameName(kNames[i], target))
            FUZZ_CHECK(after[i] == before[i]);
    const std::string text = readBack(path);
    FUZZ_CHECK(win32::WritePrivateProfileStringA(target.section, target.key, value, path));
    FUZZ_CHECK(readBack(path) == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = fuzzsupport::WriteScratchFile("fuzz.ini", data, size);
    readAll(path);
    // The job's own writes, as the Go command makes them on an old file.
    writeAndCheck(path, 0, "720");
    writeAndCheck(path, 2, "3");
    writeAndCheck(path, 6, "x y");
    return 0;
}
