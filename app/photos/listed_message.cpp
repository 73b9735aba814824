#include "app/photos/listed_message.h"

namespace quillon {

std::string ListedMessage(std::string heading, const std::vector<std::string> &lines)
{
    constexpr std::size_t kListedAtMost = 12;
    std::string text = std::move(heading);
    for (std::size_t i = 0; i < lines.size() && i < kListedAtMost; ++i)
        text += (text.empty() && i == 0 ? "" : "\n") + lines[i];
    if (lines.size() > kListedAtMost)
        text += "\nand " + std::to_string(lines.size() - kListedAtMost) + " more.";
    return text;
}

} // namespace quillon
