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

// The most pixels a target decodes or shrinks. A few hundred bytes can declare
// a picture of hundreds of millions of pixels that the program would decode
// (a progressive, arithmetic-coded JPEG of 22127 x 8992 in 390 bytes takes
// 600 MB and 30 s under the sanitizers); decoding that many says nothing new,
// and the fuzzer's time limit would count it as a hang. The corpus tests take
// such pictures through the whole program.
constexpr long long kMostPixelsDecoded = 1LL << 21;

[[noreturn]] void Fail(const char *condition, const char *file, int line);

// A folder of this process, made on first use and removed when it ends; ends in '/'.
const std::string &ScratchFolder();

// Replaces the file `name` in the scratch folder with the bytes; returns its path.
std::string WriteScratchFile(const std::string &name, const std::uint8_t *data, std::size_t size);

} // namespace fuzzsupport
