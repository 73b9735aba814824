// What the fuzz targets share: a check that stops the run on a broken rule (the
// fuzzer keeps the input), and a private folder for the files a target reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzsupport::Fail(#condition, __FILE__, __LINE__);                                     \
    } while (false)

namespace fuzzsupport {

[[noreturn]] void Fail(const char *condition, const char *file, int line);

// A folder of this process, made on first use and removed when it ends; ends in '/'.
const std::string &ScratchFolder();

// Replaces the file `name` in the scratch folder with the bytes; returns its path.
std::string WriteScratchFile(const std::string &name, const std::uint8_t *data, std::size_t size);

} // namespace fuzzsupport
