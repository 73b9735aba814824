// Messages that list names or lines, as the program's boxes show them.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// `heading`, then the lines one a line: a dozen at most, then "and N more.".
// Without a heading the first line starts the text. A very long line (a path
// thousands of bytes long) keeps its start and its end around an ellipsis.
std::string ListedMessage(std::string heading, const std::vector<std::string> &lines);

} // namespace quillon
