#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fuzzsupport {

void Fail(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: broken rule: %s\n", file, line, condition);
    std::abort();
}

namespace {

struct Scratch
{
    std::string path;
    Scratch()
    {
        // In memory where the machine offers it: the targets write a file for
        // every input, thousands a second.
        std::error_code ec;
        const std::string base
            = std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
                  ? "/dev/shm"
                  : "/tmp";
        std::string pattern = base + "/quillon-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path = pattern + "/";
    }
    ~Scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

} // namespace

const std::string &ScratchFolder()
{
    static const Scratch scratch;
    return scratch.path;
}

std::string WriteScratchFile(const std::string &name, const std::uint8_t *data, std::size_t size)
{
    const std::string path = ScratchFolder() + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out)
        Fail("the scratch file is written", __FILE__, __LINE__);
    return path;
}

} // namespace fuzzsupport
