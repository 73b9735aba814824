// Feeds arbitrary bytes to the frame server's photo list reader as the file
// "pelloryfilelist.txt", and holds it to its rules: no entry carries a line
// break or a NUL, the file reads as its text splits, and a list written back one
// entry a line with CRLF (as the Go command writes it) reads as the same list.
#include "fuzz_support.h"

#include "frameserver/photo_list.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::vector<std::string> entries = brindle::SplitPhotoList(text);

    std::size_t breaks = 0;
    for (const char c : text.substr(0, text.find('\0')))
        breaks += c == '\n' || c == '\r';
    FUZZ_CHECK(entries.size() <= breaks + 1);
    std::string written;
    for (const std::string &entry : entries) {
        FUZZ_CHECK(entry.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
        written += entry + "\r\n";
    }
    FUZZ_CHECK(brindle::SplitPhotoList(written) == entries);

    const std::string path = fuzzsupport::WriteScratchFile("pelloryfilelist.txt", data, size);
    FUZZ_CHECK(brindle::LoadPhotoList(path).entries() == entries);
    return 0;
}
