// The photo list file of a movie job: one photo path per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// The entries of a photo list, kept as one block of text and one offset an
// entry: a list costs memory in proportion to its file however short its lines
// (a file of empty lines is not one string object a line).
class PhotoList
{
public:
    PhotoList() = default;
    // The entries of `text`: lines end at CR, LF or CRLF; a last line without
    // a break counts, a break at the very end adds no empty entry, an empty
    // line between two others is an entry, and a NUL ends the text. The text
    // is taken over and its entries packed where they stand.
    explicit PhotoList(std::string text);

    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view operator[](std::size_t i) const
    {
        const std::uint32_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(text_).substr(begin, ends_[i] - begin);
    }
    std::vector<std::string> entries() const;

private:
    std::string text_;                // the entries one after another
    std::vector<std::uint32_t> ends_; // where each entry ends in text_
};

// The entries of `text`, by the rules of PhotoList.
std::vector<std::string> SplitPhotoList(std::string_view text);

// The entries of the file at `path`; none when it is missing, cannot be read,
// holds more text before its first NUL than an offset reaches (4 GiB) or is
// not a regular file (a pipe would block the host for good, and is never
// opened).
PhotoList LoadPhotoList(const std::string &path);

} // namespace brindle
