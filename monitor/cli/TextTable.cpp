#include "monitor/cli/TextTable.h"

#include <algorithm>

namespace ombrix {

std::string TableText(const std::vector<std::vector<std::string>>& cells,
                      const std::vector<bool>& rightAligned) {
  std::vector<std::size_t> widths;
  for (const auto& row : cells) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string text;
  for (const auto& row : cells) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - row[c].size(), ' ');
      if (c > 0) line += "  ";
      line += c < rightAligned.size() && rightAligned[c] ? pad + row[c] : row[c] + pad;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  }
  return text;
}

}  // namespace ombrix
