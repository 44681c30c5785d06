#include "monitor/shell/views/Views.h"

#include <QAction>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QComboBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QToolButton>
#include <mutex>

#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/shell/images/ImageList.h"
#include "monitor/shell/views/HistoryView.h"
#include "monitor/shell/views/ViewColumns.h"
#include "monitor/shell/views/ViewFormat.h"
#include "monitor/shell/views/ViewRows.h"

namespace ombrix {

namespace {

constexpr int DesignListWidth = 200;

}  // namespace

QColor CellColour(TCellColour colour, const QPalette& palette) {
  TRgb rgb{};
  if (FixedColour(colour, rgb)) return QColor(rgb.Red, rgb.Green, rgb.Blue);
  switch (colour) {
    case TCellColour::ButtonFace:
      return palette.color(QPalette::Button);
    case TCellColour::Highlight:
      return palette.color(QPalette::Highlight);
    case TCellColour::Window:
      return palette.color(QPalette::Base);
    case TCellColour::InfoBackground:
      return palette.color(QPalette::ToolTipBase);
    case TCellColour::HighlightedText:
      return palette.color(QPalette::HighlightedText);
    case TCellColour::GrayText:
      return palette.color(QPalette::Disabled, QPalette::Text);
    default:
      return palette.color(QPalette::Text);
  }
}

namespace {

QToolButton* ToggleButton(QWidget* parent, const QString& text, int image) {
  auto* button = new QToolButton(parent);
  button->setText(text);
  button->setToolTip(text);
  button->setCheckable(true);
  button->setAutoRaise(true);
  // View buttons show their picture only, so the tool bar leaves room for ProcessList.
  if (image >= 0) {
    button->setIcon(ImageListIcon(image));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  }
  return button;
}

}  // namespace

TViews::TViews(TEntityTables* tables, QWidget* window, QWidget* panel2)
    : QObject(window), tables_(tables), clientWidth_(window->width()) {
  CreateButtons(panel2);

  DrawGrid1 = new TDrawGrid(window);
  DrawGrid1->setObjectName("DrawGrid1");
  TGridModel* model = DrawGrid1->Model();
  model->HeaderData = [this](int column, int role) { return HeaderData(column, role); };
  model->CellText = [this](int column, int row) { return CellText(column, row); };
  DrawGrid1->setItemDelegate(new TGridDelegate(
      [this](QPainter& p, int column, int row, const QRect& rect, bool selected) {
        DrawGrid1DrawCell(p, column, row, rect, selected);
      },
      DrawGrid1));
  DrawGrid1->setContextMenuPolicy(Qt::CustomContextMenu);

  MainPopup = new QMenu(DrawGrid1);
  MainPopup->setObjectName("MainPopup");
  GoogleMenu = MainPopup->addAction(QStringLiteral("Google process name"));
  GoogleMenu->setObjectName("GoogleMenu");

  connect(DrawGrid1, &TDrawGrid::HeaderMouseUp, this, &TViews::DrawGrid1MouseUp);
  connect(DrawGrid1, &TDrawGrid::CellSelected, this, [this](int column, int row) {
    if (!refreshing_) DrawGrid1SelectCell(column, row);
  });
  connect(DrawGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (DrawGrid1ContextPopup(pos)) MainPopup->popup(DrawGrid1->viewport()->mapToGlobal(pos));
  });
  connect(DrawGrid1, &QAbstractItemView::doubleClicked, this, [this] { DrawGrid1DblClick(); });
  connect(GoogleMenu, &QAction::triggered, this, [this] { GoogleMenuClick(); });

  OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  SetViewControls();
}

void TViews::CreateButtons(QWidget* panel2) {
  ProcessButton = ToggleButton(panel2, QStringLiteral("Processes"), imWindow);
  DiskButton = ToggleButton(panel2, QStringLiteral("Disks"), imDisk);
  FileButton = ToggleButton(panel2, QStringLiteral("Files"), imDocument);
  AdapterButton = ToggleButton(panel2, QStringLiteral("Adapters"), imNetworkCard);
  SocketButton = ToggleButton(panel2, QStringLiteral("Sockets"), imCable);
  HistoryButton = ToggleButton(panel2, QStringLiteral("History"), -1);
  HistoryButton->setIcon(HistoryButtonIcon());
  HistoryButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
  IntervalButton = ToggleButton(panel2, QStringLiteral("Interval"), -1);
  OverallButton = ToggleButton(panel2, QStringLiteral("Overall"), -1);
  IntervalButton->setChecked(true);
  // Design names, by which the window's tests and tools find the controls.
  ProcessButton->setObjectName("ProcessButton");
  DiskButton->setObjectName("DiskButton");
  FileButton->setObjectName("FileButton");
  AdapterButton->setObjectName("AdapterButton");
  SocketButton->setObjectName("SocketButton");
  HistoryButton->setObjectName("HistoryButton");
  IntervalButton->setObjectName("IntervalButton");
  OverallButton->setObjectName("OverallButton");

  auto* layout = qobject_cast<QBoxLayout*>(panel2->layout());
  if (layout == nullptr) layout = new QHBoxLayout(panel2);
  viewGroup_ = new QButtonGroup(this);
  int tag = 0;
  for (QToolButton* b :
       {ProcessButton, DiskButton, FileButton, AdapterButton, SocketButton, HistoryButton}) {
    viewGroup_->addButton(b, tag++);
    layout->addWidget(b);
  }
  layout->addSpacing(12);
  auto* valueGroup = new QButtonGroup(this);
  for (QToolButton* b : {IntervalButton, OverallButton}) {
    valueGroup->addButton(b);
    layout->addWidget(b);
  }
  layout->addStretch(1);
  connect(viewGroup_, &QButtonGroup::idClicked, this, &TViews::ProcessButtonClick);
  connect(valueGroup, &QButtonGroup::buttonClicked, this, [this] { IntervalButtonClick(); });

  // Placed by hand at the right of the tool bar, never further left than 150 pixels nor over
  // the buttons before it (LayoutColumns).
  ProcessList = new QComboBox(panel2);
  ProcessList->setObjectName("ProcessList");
  ProcessList->setFixedWidth(DesignListWidth);
  ProcessList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  connect(ProcessList, &QComboBox::activated, this, &TViews::ProcessListChange);
}

bool TViews::Overall() const {
  return OverallButton->isChecked();
}

void TViews::SetTables(TEntityTables* tables) {
  tables_ = tables;
}

void TViews::ProcessButtonClick(int tag) {
  if (tag < 0 || tag > vwHistory) return;
  CurrentView = tag;
  if (tables_ != nullptr) tables_->ProcessListChanged = true;
  if (SetStatusText) SetStatusText(QString());
  SetViewControls();
  Refresh(false);
}

void TViews::SetViewControls() {
  const bool filtered = CurrentView == vwFiles || CurrentView == vwSockets;
  IntervalButton->setVisible(filtered);
  OverallButton->setVisible(filtered);
  ProcessList->setVisible(filtered);
  // Views without overall figures always show interval values.
  if (!filtered) IntervalButton->setChecked(true);
  if (QAbstractButton* own = viewGroup_->button(CurrentView)) own->setChecked(true);
  if (SetCaption) SetCaption(CurrentView == vwHistory ? HistoryCaption : ViewCaption(CurrentView));
  if (ShowHistory) ShowHistory(CurrentView == vwHistory);
  DrawGrid1->Model()->SetShape(DrawGrid1->Model()->GridRowCount(), ViewColumnCount(CurrentView));
  LayoutColumns(clientWidth_);
}

void TViews::LayoutColumns(int clientWidth) {
  clientWidth_ = clientWidth;
  const std::vector<int> widths = ColumnWidths(clientWidth, ViewColumnCount(CurrentView));
  QHeaderView* header = DrawGrid1->horizontalHeader();
  for (std::size_t c = 0; c < widths.size(); ++c)
    header->resizeSection(static_cast<int>(c), widths[c]);
  QWidget* bar = ProcessList->parentWidget();
  if (bar->layout() != nullptr) bar->layout()->activate();  // the buttons where they now are
  const int buttonsEnd =
      OverallButton->isVisibleTo(bar) ? OverallButton->geometry().right() + 5 : 0;
  const int left = ProcessListLeft(clientWidth, DesignListWidth, buttonsEnd);
  ProcessList->setFixedWidth(ProcessListWidth(clientWidth, left, DesignListWidth));
  ProcessList->move(left, std::max(0, (bar->height() - ProcessList->height()) / 2));
}

void TViews::IntervalButtonClick() {
  Refresh(false);
}

void TViews::ProcessListChange(int index) {
  if (tables_ == nullptr) return;
  std::lock_guard lock(ModelLock);
  const QVariant id = index >= 0 ? ProcessList->itemData(index) : QVariant();
  // Entries hold process ids; one whose process has ended since the list was built
  // finds nothing and shows all processes.
  tables_->FilterProcess = id.isValid() ? tables_->FindProcess(id.toUInt()) : nullptr;
  Refresh(false);
}

void TViews::ApplyProcessFilter() {
  if (tables_->ProcessListChanged) {
    tables_->ProcessListChanged = false;
    const std::vector<TProcessEntry> entries = ProcessListEntries(*tables_, CurrentView);
    ProcessList->clear();
    int current = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const TProcessEntry& e = entries[i];
      ProcessList->addItem(e.Text, e.AllProcesses ? QVariant() : QVariant(e.ProcessId));
      if (current == 0 && !e.AllProcesses && tables_->FilterProcess != nullptr &&
          e.ProcessId == tables_->FilterProcess->ProcessId)
        current = static_cast<int>(i);
    }
    if (current == 0) tables_->FilterProcess = nullptr;
    ProcessList->setCurrentIndex(current);
  }
  if (tables_->FilterProcess != nullptr)
    FilterRows(tables_->Rows, tables_->FilterProcess->ProcessId);
}

void TViews::Refresh(bool keepTop) {
  if (CurrentView == vwHistory) {
    if (RefreshHistory) RefreshHistory();
    return;
  }
  if (tables_ == nullptr) return;
  std::lock_guard lock(ModelLock);
  BuildRows(*tables_, CurrentView, SortColumn, Overall());
  if (CurrentView == vwFiles || CurrentView == vwSockets) ApplyProcessFilter();
  const auto& rows = tables_->Rows;
  const int count = static_cast<int>(rows.size());
  const bool hadSelection = tables_->SelectedEntity != nullptr;
  TGridModel* model = DrawGrid1->Model();
  refreshing_ = true;
  int found = 0;
  if (count == 0) {
    tables_->SelectedEntity = nullptr;
    model->SetShape(2, ViewColumnCount(CurrentView));
  } else {
    for (int r = 1; !keepTop && r <= count; ++r) {
      if (RowEntity(rows, r, SortDescending) == tables_->SelectedEntity) {
        found = r;
        break;
      }
    }
    tables_->SelectedEntity = RowEntity(rows, found, SortDescending);
    model->SetShape(count + 1, ViewColumnCount(CurrentView));
  }
  if (tables_->SelectedEntity == nullptr) {
    DrawGrid1->SelectNone();
  } else {
    DrawGrid1->SelectCell(found);
  }
  refreshing_ = false;
  // A notice in the status line (a trace request, say) stays until the selection speaks.
  if (found > 0 || hadSelection || keepTop) SetStatusLine(found);
  model->HeaderChanged();
  DrawGrid1->viewport()->update();
}

void TViews::Repaint() {
  DrawGrid1->Model()->HeaderChanged();
  DrawGrid1->viewport()->update();
}

void TViews::DrawGrid1MouseUp(int column) {
  if (column == SortColumn) {
    SortDescending = !SortDescending;
  } else {
    SortColumn = column;
    SortDescending = true;
  }
  Refresh(true);
}

void TViews::DrawGrid1SelectCell(int, int row) {
  if (tables_ == nullptr) return;
  std::lock_guard lock(ModelLock);
  tables_->SelectedEntity = RowEntity(tables_->Rows, row, SortDescending);
  SetStatusLine(row);
}

void TViews::SetStatusLine(int row) {
  if (tables_ == nullptr) return;
  std::lock_guard lock(ModelLock);
  const QString text = StatusLineText(RowEntity(tables_->Rows, row, SortDescending), CurrentView);
  if (SetStatusText) SetStatusText(text);
}

bool TViews::DrawGrid1ContextPopup(const QPoint& viewportPos) {
  const QModelIndex index = DrawGrid1->indexAt(viewportPos);
  if (tables_ == nullptr || CurrentView != vwProcesses || !index.isValid() || index.column() != 0)
    return false;
  std::lock_guard lock(ModelLock);
  const int row = index.row() + 1;
  if (RowEntity(tables_->Rows, row, SortDescending) == nullptr) return false;
  DrawGrid1->SelectCell(row, 0);  // selecting reports the row's entity and status line
  DrawGrid1SelectCell(0, row);
  return true;
}

void TViews::DrawGrid1DblClick() {
  if (CurrentView == vwProcesses && DrawGrid1->CurrentColumn() == 0) GoogleMenuClick();
}

void TViews::GoogleMenuClick() {
  if (tables_ == nullptr) return;
  std::lock_guard lock(ModelLock);
  TInfo* entity = RowEntity(tables_->Rows, DrawGrid1->CurrentRow(), SortDescending);
  auto* process = dynamic_cast<TProcessInfo*>(entity);
  if (process == nullptr) return;
  const QUrl address = WebSearchAddress(SearchName(process->GetImagePath()));
  if (OpenUrl) OpenUrl(address);
}

QVariant TViews::HeaderData(int column, int role) const {
  switch (role) {
    case Qt::DisplayRole:
      return ColumnTitle(CurrentView, column);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case Qt::ForegroundRole: {
      TRgb rgb{};
      const TCellColour colour = CellTextColour(column, 0, false, 1, SortColumn, SortDescending);
      if (!FixedColour(colour, rgb)) return {};
      return QColor(rgb.Red, rgb.Green, rgb.Blue);
    }
    default:
      return {};
  }
}

QString TViews::CellText(int column, int row) {
  if (tables_ == nullptr) return {};
  std::lock_guard lock(ModelLock);
  TInfo* entity = RowEntity(tables_->Rows, row, SortDescending);
  if (entity == nullptr) return {};
  return CellContent(*entity, CurrentView, column, Overall()).Text;
}

namespace {

constexpr int DesignClientWidth = 587;
constexpr int DesignClientHeight = 415;

// The widest unbreakable piece of a title: a column is never narrower than that.
int WidestTitlePiece(const QString& title, const QFontMetrics& metrics) {
  int widest = 0;
  for (const QString& piece : TitlePieces(title))
    widest = std::max(widest, metrics.horizontalAdvance(piece));
  return widest;
}

int ReadableViewWidth(int view, const QFontMetrics& metrics) {
  const int columns = ViewColumnCount(view);
  int unit = 0;
  for (int c = 1; c < columns; ++c) {
    const int figure = metrics.horizontalAdvance(WidestFigure(view, c));
    unit = std::max(
        {unit, figure + CellMargin, WidestTitlePiece(ColumnTitle(view, c), metrics) + CellMargin});
  }
  // The name column's two units hold its title too.
  unit = std::max(unit, (WidestTitlePiece(ColumnTitle(view, 0), metrics) + CellMargin + 1) / 2);
  return 30 + (columns + 1) * unit;
}

}  // namespace

int ReadableClientWidth(const QFontMetrics& metrics) {
  int width = DesignClientWidth;
  for (int view = 0; view < ViewCount; ++view)
    width = std::max(width, ReadableViewWidth(view, metrics));
  return width;
}

QSize ReadableWindowSize(const QFontMetrics& metrics) {
  const int width = ReadableClientWidth(metrics);
  return {width, (width * DesignClientHeight + DesignClientWidth / 2) / DesignClientWidth};
}

QString FitNumberText(const QString& text, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  return metrics.elidedText(text, Qt::ElideLeft, width);
}

void TViews::DrawGrid1DrawCell(QPainter& painter, int column, int row, const QRect& rect,
                               bool selected) {
  const QPalette& palette = DrawGrid1->palette();
  painter.fillRect(rect, CellColour(CellBackground(row, selected), palette));
  if (tables_ == nullptr) return;
  std::lock_guard lock(ModelLock);
  TInfo* entity = RowEntity(tables_->Rows, row, SortDescending);
  if (entity == nullptr) return;
  const TCell cell = CellContent(*entity, CurrentView, column, Overall());
  if (cell.Empty) return;
  painter.save();
  painter.setPen(CellColour(
      CellTextColour(column, row, selected, cell.Value, SortColumn, SortDescending), palette));
  const QFontMetrics metrics(DrawGrid1->font());
  QRect clip = rect;
  int left = rect.left() + 2;
  QString text = cell.Text;
  if (cell.Number) {
    text = FitNumberText(text, metrics, rect.width() - 4);
    if (text != cell.Text) ++cutCells_;
    left = rect.left() + rect.width() - (metrics.horizontalAdvance(text) + 2);
    clip.setLeft(rect.left() + 2);
  } else {
    clip.setRight(rect.right() - 2);
  }
  painter.setClipRect(clip);
  painter.setFont(DrawGrid1->font());
  painter.drawText(QPoint(left, rect.top() + 2 + metrics.ascent()), text);
  painter.restore();
}

}  // namespace ombrix
