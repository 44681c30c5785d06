// The statistics grid: a fixed header row of column titles over rows that TViews paints
// cell by cell. Grid row r (from 1) is model row r - 1; the header is the table's own.
#pragma once
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <vector>

namespace ombrix {

class TGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  // What the model asks of its owner: titles, header colours and cell texts.
  std::function<QVariant(int column, int role)> HeaderData;
  std::function<QString(int column, int row)> CellText;  // row from 1

  // The grid's row count includes the header row; at least 2.
  void SetShape(int rowCount, int columnCount);
  int GridRowCount() const { return rows_ + 1; }
  void HeaderChanged();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  int rows_ = 1;
  int columns_ = 0;
};

// Paints every data cell through DrawCell; no default drawing.
class TGridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using DrawCellFn =
      std::function<void(QPainter& painter, int column, int row, const QRect& rect, bool selected)>;
  TGridDelegate(DrawCellFn draw, QObject* parent);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  // A cell too narrow for its text shows the whole text as a tool tip.
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

 private:
  DrawCellFn draw_;
};

// A title's unbreakable pieces: its words, and its parts up to and including each "/".
QStringList TitlePieces(const QString& title);
// A column title in lines that fit width: whole when it fits, else broken at blanks and
// after "/", as many times as needed; a piece that fits nowhere stays whole.
QStringList WrapTitle(const QString& title, const QFontMetrics& metrics, int width);

// The header row, painted as the grid's cells are (no default drawing): the button-face
// background, the title 2 pixels in from the top left, in as many lines as its column's
// width needs, the sort colours from the model. Tall enough for its longest title.
class TGridHeader : public QHeaderView {
  Q_OBJECT

 public:
  explicit TGridHeader(QWidget* parent);
  QSize sizeHint() const override;
  // Titles painted cut so far because a piece of them was wider than its column.
  int CutTitles() const { return cutTitles_; }

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

 private:
  QStringList Lines(int logicalIndex) const;
  mutable int cutTitles_ = 0;
};

class TDrawGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TDrawGrid(QWidget* parent = nullptr);
  TGridModel* Model() const { return model_; }

  // The grid row (from 1) and column of the current cell; row 0 when there is none.
  int CurrentRow() const;
  int CurrentColumn() const;
  // Makes grid row r current at column (keeps the column when it is -1).
  void SelectCell(int row, int column = -1);
  void SelectNone();

 signals:
  // Any mouse button released over the header row, with the column under the pointer.
  void HeaderMouseUp(int column);
  // The current cell moved to (column, row) at the user's hand or by SelectCell.
  void CellSelected(int column, int row);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Only the left button selects; the right one asks for the context menu alone.
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void SetRowHeight();
  std::vector<int> SectionWidths() const;
  TGridModel* model_;
  std::vector<int> pressWidths_;
};

}  // namespace ombrix
