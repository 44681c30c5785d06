// The rows a view shows and what is said about them: built, ordered, filtered, looked up by
// grid row, described in the status line and searched for on the web. UI-free; everything
// here runs under ModelLock.
#pragma once
#include <QString>
#include <QUrl>
#include <cstdint>
#include <vector>

namespace ombrix {

class TEntityTables;
class TInfo;

// Fills tables.Rows with the active entities of view, largest first by sortColumn. Each new
// entity goes before the equal ones already placed, so among equals the later in its
// table's order comes first.
void BuildRows(TEntityTables& tables, int view, int sortColumn, bool overall);

// Inserts entity into rows, which run from the largest to the smallest.
void InsertRow(std::vector<TInfo*>& rows, TInfo* entity);

// The entity of grid row r (from 1): rows read forwards when descending, backwards when
// ascending; none outside 1..count.
TInfo* RowEntity(const std::vector<TInfo*>& rows, int r, bool descending);

// Keeps only the rows owned by processId.
void FilterRows(std::vector<TInfo*>& rows, std::uint32_t processId);

// One entry of the process filter list. The process is kept by id, not by reference, so an
// entry chosen after its process ended cannot reach a freed entity.
struct TProcessEntry {
  QString Text;
  bool AllProcesses = false;
  std::uint32_t ProcessId = 0;
};

// "<all processes>" first, then every process that did disk I/O (Files view) or network
// traffic (Sockets view) as "name [pid]", pseudo processes left out, in alphabetical order.
std::vector<TProcessEntry> ProcessListEntries(TEntityTables& tables, int view);

// The status line for entity (none gives an empty text).
QString StatusLineText(TInfo* entity, int view);

// The file name a web search asks for: the part of path after its last "/", "\" or ":".
QString SearchName(const std::string& path);
// The web search address for name; the name is percent-encoded as the value of q.
QUrl WebSearchAddress(const QString& name);

// Column widths for a client width: the name column takes two units, the others one.
std::vector<int> ColumnWidths(int clientWidth, int columnCount);
// Left edge of the process filter list in its tool bar: at the right, but never left of
// 150 pixels nor of buttonsEnd, where the buttons before it end.
int ProcessListLeft(int clientWidth, int listWidth, int buttonsEnd = 0);
// Its width at that place: as designed, narrower where the window is, down to a least
// width that still shows a process name.
int ProcessListWidth(int clientWidth, int left, int designWidth);

}  // namespace ombrix
