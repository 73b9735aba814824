#include "frameserver/photo_list.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace brindle {

std::vector<std::string> SplitPhotoList(std::string_view text)
{
    if (const auto nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t stop = text.find_first_of("\r\n", pos);
        if (stop == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));
            break;
        }
        lines.emplace_back(text.substr(pos, stop - pos));
        pos = stop + 1;
        if (text[stop] == '\r' && pos < text.size() && text[pos] == '\n')
            ++pos;
    }
    return lines;
}

std::vector<std::string> LoadPhotoList(const std::string &path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return {};
    return SplitPhotoList(text);
}

} // namespace brindle
