#include "monitor/shell/views/DrawGrid.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace ombrix {

void TGridModel::SetShape(int rowCount, int columnCount) {
  const int rows = std::max(1, rowCount - 1);
  if (columnCount != columns_) {
    beginResetModel();
    rows_ = rows;
    columns_ = columnCount;
    endResetModel();
    return;
  }
  // Growing or shrinking at the end keeps the scroll position, which a reset would lose.
  if (rows > rows_) {
    beginInsertRows(QModelIndex(), rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  } else if (rows < rows_) {
    beginRemoveRows(QModelIndex(), rows, rows_ - 1);
    rows_ = rows;
    endRemoveRows();
  }
}

void TGridModel::HeaderChanged() {
  if (columns_ > 0) emit headerDataChanged(Qt::Horizontal, 0, columns_ - 1);
}

int TGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

QVariant TGridModel::data(const QModelIndex& index, int role) const {
  // The text serves accessibility and tests; painting goes through the delegate.
  if (!index.isValid() || role != Qt::DisplayRole || !CellText) return {};
  return CellText(index.column(), index.row() + 1);
}

QVariant TGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || !HeaderData) return {};
  return HeaderData(section, role);
}

Qt::ItemFlags TGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

TGridDelegate::TGridDelegate(DrawCellFn draw, QObject* parent)
    : QStyledItemDelegate(parent), draw_(std::move(draw)) {}

void TGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  draw_(*painter, index.column(), index.row() + 1, option.rect, selected);
}

bool TGridDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                              const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (event->type() != QEvent::ToolTip || !index.isValid()) return false;
  const QString text = index.data().toString();
  if (!text.isEmpty() && view->fontMetrics().horizontalAdvance(text) + 4 > option.rect.width()) {
    QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
  } else {
    QToolTip::hideText();
  }
  return true;
}

namespace {

// Text starts 2 pixels in, and stops 2 pixels before the line at the section's right edge.
constexpr int TitleMargin = 5;

}  // namespace

QStringList TitlePieces(const QString& title) {
  QStringList pieces;
  QString piece;
  for (const QChar c : title) {
    if (c == QLatin1Char(' ')) {
      if (!piece.isEmpty()) pieces << piece;
      piece.clear();
      continue;
    }
    piece += c;
    if (c == QLatin1Char('/')) {
      pieces << piece;
      piece.clear();
    }
  }
  if (!piece.isEmpty()) pieces << piece;
  return pieces;
}

QStringList WrapTitle(const QString& title, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(title) <= width) return {title};
  QStringList lines;
  QString line;
  for (const QString& piece : TitlePieces(title)) {
    const QString joined =
        line.isEmpty() ? piece : line + (line.endsWith(QLatin1Char('/')) ? "" : " ") + piece;
    if (line.isEmpty() || metrics.horizontalAdvance(joined) <= width) {
      line = joined;
      continue;
    }
    lines << line;
    line = piece;
  }
  lines << line;
  return lines;
}

TGridHeader::TGridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

QStringList TGridHeader::Lines(int logicalIndex) const {
  if (model() == nullptr) return {};
  const QString title = model()->headerData(logicalIndex, Qt::Horizontal).toString();
  return WrapTitle(title, fontMetrics(), sectionSize(logicalIndex) - TitleMargin);
}

QSize TGridHeader::sizeHint() const {
  qsizetype lines = 1;
  for (int i = 0; i < count(); ++i) lines = std::max(lines, Lines(i).size());
  const int height = static_cast<int>(lines) * fontMetrics().height() + 4;
  return {QHeaderView::sizeHint().width(), std::max(17, height)};
}

void TGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  painter->save();
  painter->fillRect(rect, palette().color(QPalette::Button));
  painter->setPen(palette().color(QPalette::Mid));
  painter->drawLine(rect.topRight(), rect.bottomRight());
  painter->drawLine(rect.bottomLeft(), rect.bottomRight());
  const QVariant colour = model()->headerData(logicalIndex, Qt::Horizontal, Qt::ForegroundRole);
  painter->setPen(colour.isValid() ? colour.value<QColor>()
                                   : palette().color(QPalette::WindowText));
  painter->setClipRect(rect.adjusted(0, 0, -3, 0));
  const QFontMetrics metrics = fontMetrics();
  int y = rect.top() + 2 + metrics.ascent();
  for (const QString& line : Lines(logicalIndex)) {
    if (metrics.horizontalAdvance(line) > rect.width() - TitleMargin) ++cutTitles_;
    painter->drawText(QPoint(rect.left() + 2, y), line);
    y += metrics.height();
  }
  painter->restore();
}

TDrawGrid::TDrawGrid(QWidget* parent) : QTableView(parent), model_(new TGridModel(this)) {
  setHorizontalHeader(new TGridHeader(this));
  setModel(model_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  horizontalHeader()->setStretchLastSection(false);
  // Header clicks sort (on release, any button) instead of selecting a column.
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSortIndicatorShown(false);
  horizontalHeader()->viewport()->installEventFilter(this);
  SetRowHeight();
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) emit CellSelected(current.column(), current.row() + 1);
          });
}

int TDrawGrid::CurrentRow() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.row() + 1 : 0;
}

int TDrawGrid::CurrentColumn() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.column() : 0;
}

void TDrawGrid::SelectCell(int row, int column) {
  if (column < 0) column = CurrentColumn();
  const QModelIndex index = model_->index(row - 1, column);
  if (!index.isValid()) return;
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  scrollTo(index);
}

void TDrawGrid::SelectNone() {
  selectionModel()->clearSelection();
  selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  scrollToTop();
}

bool TDrawGrid::eventFilter(QObject* watched, QEvent* event) {
  if (watched != horizontalHeader()->viewport()) return QTableView::eventFilter(watched, event);
  if (event->type() == QEvent::MouseButtonPress) {
    pressWidths_ = SectionWidths();
  } else if (event->type() == QEvent::MouseButtonRelease) {
    // Releasing after dragging a column border resizes; it does not sort.
    const bool resized = SectionWidths() != pressWidths_;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const int column = horizontalHeader()->logicalIndexAt(mouse->position().toPoint());
    if (column >= 0 && !resized) emit HeaderMouseUp(column);
  }
  return QTableView::eventFilter(watched, event);
}

std::vector<int> TDrawGrid::SectionWidths() const {
  std::vector<int> widths;
  for (int i = 0; i < horizontalHeader()->count(); ++i)
    widths.push_back(horizontalHeader()->sectionSize(i));
  return widths;
}

void TDrawGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->accept();
    return;
  }
  QTableView::mousePressEvent(event);
}

void TDrawGrid::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  if (event->type() == QEvent::FontChange) SetRowHeight();
}

void TDrawGrid::SetRowHeight() {
  // 17 pixels as designed, taller when the font needs it: text sits 2 pixels below the top.
  const int height = std::max(17, fontMetrics().height() + 4);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(height);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

}  // namespace ombrix
