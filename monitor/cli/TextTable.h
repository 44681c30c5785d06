// Rows of cells as text, each column padded to its widest cell.
#pragma once
#include <string>
#include <vector>

namespace ombrix {

// Numbers to the right, texts to the left; two blanks between columns, none at a line's end.
std::string TableText(const std::vector<std::vector<std::string>>& cells,
                      const std::vector<bool>& rightAligned);

}  // namespace ombrix
