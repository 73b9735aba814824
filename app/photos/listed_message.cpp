#include "app/photos/listed_message.h"

namespace quillon {

namespace {

// A line longer than this shows its start and its end around an ellipsis: a
// path as long as Linux allows (4,095 bytes) filled the screen's height, and
// a dozen of them put the box's button out of reach.
constexpr std::size_t kLongestLine = 240;
constexpr std::size_t kKeptEachEnd = 112;

bool continuesCharacter(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string shortened(const std::string &line)
{
    if (line.size() <= kLongestLine)
        return line;
    // Cut between characters of UTF-8 text; other bytes are cut where they fall.
    std::size_t head = kKeptEachEnd;
    while (head > 0 && continuesCharacter(line[head]))
        --head;
    std::size_t tail = line.size() - kKeptEachEnd;
    while (tail < line.size() && continuesCharacter(line[tail]))
        ++tail;
    return line.substr(0, head) + "\u2026" + line.substr(tail);
}

} // namespace

std::string ListedMessage(std::string heading, const std::vector<std::string> &lines)
{
    constexpr std::size_t kListedAtMost = 12;
    std::string text = std::move(heading);
    for (std::size_t i = 0; i < lines.size() && i < kListedAtMost; ++i)
        text += (text.empty() && i == 0 ? "" : "\n") + shortened(lines[i]);
    if (lines.size() > kListedAtMost)
        text += "\nand " + std::to_string(lines.size() - kListedAtMost) + " more.";
    return text;
}

} // namespace quillon
