#include "app/job/compressor_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quillon {

std::vector<std::string> CompressorNamesFromBlock(const void *data, std::size_t byteCount)
{
    std::vector<std::string> names;
    if (!data || byteCount < 4)
        return names;
    const auto *bytes = static_cast<const unsigned char *>(data);
    const std::int32_t count = static_cast<std::int32_t>(
        std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16
        | std::uint32_t(bytes[3]) << 24);
    if (count <= 0)
        return names;
    const std::size_t fits = (byteCount - 4) / CompressorNameSlot;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), fits);
    names.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        const char *slot = reinterpret_cast<const char *>(bytes + 4 + k * CompressorNameSlot);
        const void *nul = std::memchr(slot, '\0', CompressorNameSlot);
        const std::size_t length
            = nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - slot)
                  : CompressorNameSlot;
        names.emplace_back(slot, length);
    }
    return names;
}

int PreferredCompressorIndex(const std::vector<std::string> &names)
{
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].find(PreferredCompressorMark) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

} // namespace quillon
