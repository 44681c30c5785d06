// The five views of the main window: the view buttons, the interval/overall choice, the
// process filter, the grid with its sorting and selection, the status line of the selected
// row and the web search on a process name. The window places the controls and calls the
// handlers; every handler takes ModelLock while it reads entities.
#pragma once
#include <QFontMetrics>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>

#include "monitor/shell/views/DrawGrid.h"
#include "monitor/shell/views/ViewFormat.h"

class QComboBox;
class QMenu;
class QAction;
class QPainter;
class QToolButton;
class QButtonGroup;

namespace ombrix {

class TEntityTables;

// A number as it fits a cell of the given text width: whole, or with its leading digits
// replaced by an ellipsis, so a cut figure never reads as a smaller one.
QString FitNumberText(const QString& text, const QFontMetrics& metrics, int width);

// The colour of a cell colour in a palette: the fixed ones, or the palette's own roles.
QColor CellColour(TCellColour colour, const QPalette& palette);

// Room a cell's text needs beside its own width: 2 pixels either side and the grid line.
inline constexpr int CellMargin = 5;

// The smallest client width at which every view shows its widest expected figures
// (WidestFigure) and every piece of its titles whole in the given font, with the columns
// laid out as designed; never below the designed width.
int ReadableClientWidth(const QFontMetrics& metrics);
// The default window size: that width, and a height in the designed proportion.
QSize ReadableWindowSize(const QFontMetrics& metrics);

class TViews : public QObject {
  Q_OBJECT

 public:
  // Creates the view buttons and ProcessList inside panel2 (appended to its box layout)
  // and the grid with its pop-up menu inside window. The tables may come later, when the
  // model exists; until then the views show nothing and the handlers do nothing.
  TViews(TEntityTables* tables, QWidget* window, QWidget* panel2);
  void SetTables(TEntityTables* tables);

  QToolButton* ProcessButton;
  QToolButton* DiskButton;
  QToolButton* FileButton;
  QToolButton* AdapterButton;
  QToolButton* SocketButton;
  QToolButton* HistoryButton;
  QToolButton* IntervalButton;
  QToolButton* OverallButton;
  QComboBox* ProcessList;
  TDrawGrid* DrawGrid1;
  QMenu* MainPopup;
  QAction* GoogleMenu;

  // Where the views speak: the window's caption and StatusPanel, and the shell's "open".
  std::function<void(const QString&)> SetCaption;
  std::function<void(const QString&)> SetStatusText;
  std::function<void(const QUrl&)> OpenUrl;
  // The History view, which the window places: shown in place of the grid, and brought up
  // to date where the grid would refresh.
  std::function<void(bool shown)> ShowHistory;
  std::function<void()> RefreshHistory;

  int CurrentView = 0;
  int SortColumn = 0;
  bool SortDescending = false;

  // Handlers, named after the components they serve.
  void ProcessButtonClick(int tag);
  void IntervalButtonClick();
  void ProcessListChange(int index);
  void DrawGrid1MouseUp(int column);  // released over the header row
  void DrawGrid1SelectCell(int column, int row);
  bool DrawGrid1ContextPopup(const QPoint& viewportPos);  // true: MainPopup may open
  void DrawGrid1DblClick();
  void GoogleMenuClick();
  void DrawGrid1DrawCell(QPainter& painter, int column, int row, const QRect& rect, bool selected);

  // Rebuilds the rows and re-selects the selected entity unless keepTop.
  void Refresh(bool keepTop);
  // Buttons, caption and columns of CurrentView.
  void SetViewControls();
  // Column widths and the filter list's place for the window's client width; the list
  // never covers the buttons before it.
  void LayoutColumns(int clientWidth);
  // Cells painted with their figure cut (shown whole in their tool tip) so far.
  int CutCells() const { return cutCells_; }
  // Repaints the current rows with their entities' current figures.
  void Repaint();
  bool Overall() const;

 private:
  void CreateButtons(QWidget* panel2);
  void ApplyProcessFilter();
  void SetStatusLine(int row);
  QVariant HeaderData(int column, int role) const;
  QString CellText(int column, int row);

  TEntityTables* tables_;
  QButtonGroup* viewGroup_;
  int clientWidth_;
  bool refreshing_ = false;
  int cutCells_ = 0;
};

}  // namespace ombrix
