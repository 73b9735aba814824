// Messages that list names or lines, as the program's boxes show them.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// `heading`, then the lines one a line: a dozen at most, then "and N more.".
// Without a heading the first line starts the text.
std::string ListedMessage(std::string heading, const std::vector<std::string> &lines);

} // namespace quillon
