#include "monitor/cli/CliFrontEnd.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "monitor/cli/TextTable.h"
#include "monitor/shell/CoreFigures.h"
#include "monitor/shell/views/ViewColumns.h"
#include "monitor/shell/views/ViewRows.h"

namespace ombrix {

TCliFrontEnd::TCliFrontEnd(TCliOptions options, std::FILE* out)
    : options_(std::move(options)), out_(out) {
  if (!options_.SortColumn.empty())
    sortColumn_ = std::max(ResolveSortColumn(options_.SortColumn, options_.View), 0);
}

void TCliFrontEnd::SetStatusText(const std::string& text) {
  std::fprintf(out_, "%s\n", text.c_str());
}

void TCliFrontEnd::RefreshGrid() {
  const std::string text = ViewText() + IndicatorText();
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

void TCliFrontEnd::ShowNotice(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

void TCliFrontEnd::ShowError(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

std::string TCliFrontEnd::ViewText() {
  TEntityTables& tables = core_->Tables;
  const int view = options_.View;
  const int columns = ViewColumnCount(view);
  BuildRows(tables, view, sortColumn_, options_.Overall);
  std::vector<std::vector<std::string>> cells;
  std::vector<bool> right(static_cast<std::size_t>(columns), false);
  std::vector<std::string> titles;
  for (int c = 0; c < columns; ++c) titles.push_back(ColumnTitle(view, c).toStdString());
  cells.push_back(titles);
  const int count = static_cast<int>(tables.Rows.size());
  for (int r = 1; r <= count; ++r) {
    TInfo* entity = RowEntity(tables.Rows, r, options_.Descending);
    if (entity == nullptr) continue;
    std::vector<std::string> row;
    for (int c = 0; c < columns; ++c) {
      const TCell cell = CellContent(*entity, view, c, options_.Overall);
      if (cell.Number) right[static_cast<std::size_t>(c)] = true;
      row.push_back(cell.Empty ? std::string() : cell.Text.toStdString());
    }
    cells.push_back(std::move(row));
  }
  return ViewCaption(view).toStdString() + "\n" + TableText(cells, right);
}

std::string TCliFrontEnd::IndicatorText() {
  return IndicatorLine(IndicatorTexts(CoreFigures(*core_))).toStdString() + "\n\n";
}

}  // namespace ombrix
