#include "monitor/shell/views/ViewRows.h"

#include <algorithm>

#include "monitor/model/Tables.h"
#include "monitor/shell/views/ViewColumns.h"

namespace ombrix {

namespace {

template <typename T>
void BuildFrom(const std::vector<std::unique_ptr<T>>& table, int sortColumn, bool overall,
               std::vector<TInfo*>& rows) {
  rows.reserve(table.size());
  for (const auto& entity : table) {
    if (!entity->Active) continue;
    entity->CompareColumn = sortColumn;
    entity->CompareOverall = overall;
    InsertRow(rows, entity.get());
  }
}

bool EntryLess(const TProcessEntry& a, const TProcessEntry& b) {
  const int byText = a.Text.compare(b.Text, Qt::CaseInsensitive);
  if (byText != 0) return byText < 0;
  return a.Text < b.Text;
}

}  // namespace

void InsertRow(std::vector<TInfo*>& rows, TInfo* entity) {
  std::size_t lo = 0;
  std::size_t hi = rows.size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (entity->Compare(*rows[mid]) == crLess) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(lo), entity);
}

void BuildRows(TEntityTables& tables, int view, int sortColumn, bool overall) {
  auto& rows = tables.Rows;
  rows.clear();
  switch (view) {
    case vwProcesses:
      BuildFrom(tables.Processes, sortColumn, overall, rows);
      break;
    case vwDisks:
      BuildFrom(tables.Disks, sortColumn, overall, rows);
      break;
    case vwFiles:
      BuildFrom(tables.Files, sortColumn, overall, rows);
      break;
    case vwAdapters:
      BuildFrom(tables.Adapters, sortColumn, overall, rows);
      break;
    case vwSockets:
      BuildFrom(tables.Sockets, sortColumn, overall, rows);
      break;
    default:
      break;
  }
}

TInfo* RowEntity(const std::vector<TInfo*>& rows, int r, bool descending) {
  const auto count = static_cast<std::int64_t>(rows.size());
  if (r < 1 || r > count) return nullptr;
  const std::int64_t index = descending ? r - 1 : count - r;
  return rows[static_cast<std::size_t>(index)];
}

void FilterRows(std::vector<TInfo*>& rows, std::uint32_t processId) {
  std::erase_if(rows, [processId](const TInfo* e) { return e->ProcessId != processId; });
}

std::vector<TProcessEntry> ProcessListEntries(TEntityTables& tables, int view) {
  std::vector<TProcessEntry> entries;
  for (const auto& p : tables.Processes) {
    if (p->Permanent) continue;
    const bool wanted = view == vwFiles ? p->SawDiskIo : view == vwSockets && p->SawNetwork;
    if (!wanted) continue;
    entries.push_back({QString::fromStdString(p->GetName()) + QStringLiteral(" [") +
                           QString::number(p->ProcessId) + QLatin1Char(']'),
                       false, p->ProcessId});
  }
  std::stable_sort(entries.begin(), entries.end(), EntryLess);
  entries.insert(entries.begin(), {QStringLiteral("<all processes>"), true, 0});
  return entries;
}

QString StatusLineText(TInfo* entity, int view) {
  if (entity == nullptr) return {};
  std::string text;
  if (auto* p = dynamic_cast<TProcessInfo*>(entity); p != nullptr && view == vwProcesses) {
    text = p->GetImagePath() + " [" + std::to_string(p->ProcessId) + "]";
  } else if (auto* f = dynamic_cast<TFileInfo*>(entity); f != nullptr && view == vwFiles) {
    const std::string name = f->GetName();  // resolves the directory too
    text = f->Directory + name;
  } else {
    text = entity->GetName();
  }
  return QLatin1Char(' ') + QString::fromStdString(text);
}

QString SearchName(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\:");
  return QString::fromStdString(cut == std::string::npos ? path : path.substr(cut + 1));
}

QUrl WebSearchAddress(const QString& name) {
  const QByteArray value = QUrl::toPercentEncoding(name);
  return QUrl::fromEncoded("https://www.google.com/search?q=" + value, QUrl::StrictMode);
}

std::vector<int> ColumnWidths(int clientWidth, int columnCount) {
  if (columnCount <= 0) return {};
  // A window narrower than the margin leaves the columns empty rather than negative.
  const int unit = std::max(0, (clientWidth - 30) / (columnCount + 1));
  std::vector<int> widths(static_cast<std::size_t>(columnCount), unit);
  widths[0] = 2 * unit;
  return widths;
}

int ProcessListLeft(int clientWidth, int listWidth, int buttonsEnd) {
  return std::max({150, buttonsEnd, clientWidth - listWidth - 8});
}

int ProcessListWidth(int clientWidth, int left, int designWidth) {
  constexpr int LeastWidth = 100;
  return std::clamp(clientWidth - left - 8, std::min(LeastWidth, designWidth), designWidth);
}

}  // namespace ombrix
