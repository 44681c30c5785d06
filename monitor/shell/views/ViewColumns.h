// The five views of the grid: their captions, column titles and what each cell shows.
// UI-free; read under ModelLock.
#pragma once
#include <QLocale>
#include <QString>

namespace ombrix {

class TInfo;

enum TView : int { vwProcesses = 0, vwDisks = 1, vwFiles = 2, vwAdapters = 3, vwSockets = 4 };
inline constexpr int ViewCount = 5;
// The sixth view, of the recorded history, has charts instead of entities' columns.
inline constexpr int vwHistory = 5;

// "Ombrix - Processes" and so on; empty for a number that is no view.
QString ViewCaption(int view);
// 0 for a number that is no view.
int ViewColumnCount(int view);
// "<error>" for a column outside the view's columns.
QString ColumnTitle(int view, int column);

// The widest figure a column is expected to show on a busy desktop, as the cell would write
// it: the default window width is made to hold these whole. Empty for text columns (names,
// hosts, processes), which are cut at their cell's edge as designed.
QString WidestFigure(int view, int column, const QLocale& locale = QLocale());

// What one data cell shows. Empty cells draw nothing but their background.
struct TCell {
  QString Text;
  double Value = 0;     // decides the colour; text cells count as 1
  bool Number = false;  // drawn right-aligned
  bool Empty = true;
};

// The cell of entity in column of view; overall picks the since-creation figures of files
// and sockets. An entity that does not belong to the view gives an empty cell.
TCell CellContent(TInfo& entity, int view, int column, bool overall,
                  const QLocale& locale = QLocale());

}  // namespace ombrix
