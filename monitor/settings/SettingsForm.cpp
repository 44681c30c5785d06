#include "monitor/settings/SettingsForm.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>

#include "monitor/model/ModelLock.h"

namespace ombrix {
namespace {

constexpr int kGridRows = 8;
constexpr int kGridCols = 4;

const char* const kRowNames[kGridRows] = {
    "Color Values:",           "CPU Inuse Percent", "CPU Queue Depth",  "Memory Inuse Percent",
    "Memory Available MBytes", "Disk Busy Percent", "Disk Queue Depth", "Network Busy Percent"};

// The edit's text as an integer; `fallback` when it is empty or no integer.
int IntOf(const QString& text, int fallback) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  return ok ? v : fallback;
}

// The dialog's face is a small sans serif with narrow metrics; texts and positions are laid
// out for it, so prefer the families with the closest widths over the usual wide default.
QFont DialogFont() {
  static const bool registered = [] {
    QFont::insertSubstitutions("MS Sans Serif",
                               {"Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans"});
    return true;
  }();
  (void)registered;
  return QFont("MS Sans Serif", 8);
}

QCheckBox* MakeCheck(QWidget* parent, const char* text, int x, int y, int w) {
  auto* box = new QCheckBox(QString::fromUtf8(text), parent);
  box->setGeometry(x, y, w, 17);
  return box;
}

// Level cells in reading order: rows 1 to 7, columns 1 to 3.
constexpr int kLevelCells = (kGridRows - 1) * (kGridCols - 1);
int CellNumber(int row, int col) {
  return (row - 1) * (kGridCols - 1) + (col - 1);
}

}  // namespace

QModelIndex TLevelsGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const QModelIndex current = currentIndex();
  const bool onLevel = current.isValid() && current.row() >= 1 && current.column() >= 1;
  if (!onLevel) return action == MovePrevious ? QModelIndex() : model()->index(1, 1);
  int row = current.row(), col = current.column();
  switch (action) {
    case MoveNext:
    case MovePrevious: {
      const int n = CellNumber(row, col) + (action == MoveNext ? 1 : -1);
      if (n < 0 || n >= kLevelCells) return {};  // the focus moves on to the next control
      return model()->index(1 + n / (kGridCols - 1), 1 + n % (kGridCols - 1));
    }
    case MoveUp:
      row = std::max(1, row - 1);
      break;
    case MoveDown:
      row = std::min(kGridRows - 1, row + 1);
      break;
    case MoveLeft:
      col = std::max(1, col - 1);
      break;
    case MoveRight:
      col = std::min(kGridCols - 1, col + 1);
      break;
    case MoveHome:
      col = 1;
      break;
    case MoveEnd:
      col = kGridCols - 1;
      break;
    case MovePageUp:
      row = 1;
      break;
    case MovePageDown:
      row = kGridRows - 1;
      break;
  }
  return model()->index(row, col);
}

// Tab in the editor of the last cell (Shift+Tab in the first) goes on to the next control.
void TLevelsGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  const bool onward = hint == QAbstractItemDelegate::EditNextItem;
  const bool leave = (onward || hint == QAbstractItemDelegate::EditPreviousItem) &&
                     !moveCursor(onward ? MoveNext : MovePrevious, Qt::NoModifier).isValid();
  QTableWidget::closeEditor(editor, leave ? QAbstractItemDelegate::NoHint : hint);
  // The widget's own focus chain, past the item view's, which would move between cells.
  if (leave) QWidget::focusNextPrevChild(onward);  // NOLINT(bugprone-parent-virtual-call)
}

TSettingsForm::TSettingsForm(QWidget* parent) : QDialog(parent) {
  ShowMessage = [this](const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, this);
    box.exec();
  };
  ShowError = [this](const QString& text) {
    QMessageBox::critical(this, QGuiApplication::applicationDisplayName(), text);
  };
  ShowHelp = [](int) {};
  CreateControls();
  SetUpGrid();
}

// The grid goes first, while the form is whole: its open cell editor hands its text over as
// it closes.
TSettingsForm::~TSettingsForm() {
  destroying_ = true;
  delete StringGrid1;
}

void TSettingsForm::CreateControls() {
  setWindowTitle("Ombrix Settings");
  setFont(DialogFont());
  setFixedSize(290, 415);

  Label1 = new QLabel("Sample Interval (msec):", this);
  Label1->move(8, 8);
  IntervalEdit = new QLineEdit(this);
  IntervalEdit->setGeometry(8, 24, 121, 21);
  SmoothCheck = MakeCheck(this, "Report smoothed statistics.", 8, 56, 165);
  SmoothCheck->setChecked(true);
  OkButton = new QPushButton("OK", this);
  OkButton->setGeometry(204, 12, 75, 25);
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setGeometry(204, 44, 75, 25);
  CancelButton->setAutoDefault(false);
  Label2 = new QLabel("Interval Count:", this);
  Label2->move(32, 76);
  CountEdit = new QLineEdit(this);
  CountEdit->setGeometry(32, 92, 97, 21);
  StringGrid1 = new TLevelsGrid(kGridRows, kGridCols, this);
  StringGrid1->setGeometry(8, 244, 273, 161);
  HostNameCheck = MakeCheck(this, "Retrieve the remote host name for open sockets.", 8, 124, 273);
  LogCheck = MakeCheck(this, "Log completed process information.", 8, 148, 273);
  LogCheck->setEnabled(false);
  PseudoCheck = MakeCheck(this, "Show interrupt, DPC and idle CPU time separately.", 8, 172, 273);
  OtherIosCheck = MakeCheck(this, "Include non-data IOs in process IO statistics.", 8, 196, 273);
  OnTopCheck = MakeCheck(this, "Keep the main Ombrix window always on top.", 8, 220, 277);

  QWidget* order[] = {IntervalEdit, SmoothCheck,   CountEdit,     StringGrid1,
                      OkButton,     CancelButton,  HostNameCheck, LogCheck,
                      PseudoCheck,  OtherIosCheck, OnTopCheck};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  IntervalEdit->installEventFilter(this);
  CountEdit->installEventFilter(this);
  connect(SmoothCheck, &QCheckBox::toggled, this, [this] { SmoothCheckClick(); });
  connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, [this] { ShowHelp(HelpContext); });
}

void TSettingsForm::SetUpGrid() {
  QTableWidget* g = StringGrid1;
  g->horizontalHeader()->hide();
  g->verticalHeader()->hide();
  g->verticalHeader()->setDefaultSectionSize(19);
  g->horizontalHeader()->setDefaultSectionSize(67);
  g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  g->setFrameShape(QFrame::NoFrame);
  g->setTabKeyNavigation(true);
  g->setSelectionMode(QAbstractItemView::SingleSelection);
  // Every trigger, moving to a cell included, so the cell editor is always open.
  g->setEditTriggers(QAbstractItemView::AllEditTriggers);
  g->setItemDelegate(new TLevelsDelegate(this));
  for (int r = 0; r < kGridRows; ++r) {
    for (int c = 0; c < kGridCols; ++c) {
      auto* item = new QTableWidgetItem();
      const bool fixed = r == 0 || c == 0;
      item->setFlags(fixed ? Qt::ItemIsEnabled
                           : Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
      g->setItem(r, c, item);
    }
  }
}

void TSettingsForm::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TSettingsForm::FormShow() {
  InputError = false;
  EditSettings = Settings;
  IntervalEdit->setText(QString::number(EditSettings.Interval));
  HostNameCheck->setChecked(EditSettings.GetHostNames);
  PseudoCheck->setChecked(EditSettings.ShowPseudoProcesses);
  OtherIosCheck->setChecked(EditSettings.IncludeOtherIos);
  OnTopCheck->setChecked(EditSettings.AlwaysOnTop);
  SmoothCheck->setChecked(EditSettings.Smooth);
  CountEdit->setText(QString::number(EditSettings.SmoothCount));
  SmoothCheckClick();

  rows_ = {nullptr,
           &EditSettings.CpuInuse,
           &EditSettings.CpuQueueDepth,
           &EditSettings.MemoryInuse,
           &EditSettings.MemoryMBytes,
           &EditSettings.DiskBusy,
           &EditSettings.DiskQueueDepth,
           &EditSettings.NetworkBusy};
  for (int r = 0; r < kGridRows; ++r) StringGrid1->item(r, 0)->setText(kRowNames[r]);
  const int width = StringGrid1->width();
  const int w = width / 6;
  StringGrid1->setColumnWidth(0, width - 3 * w - 5);
  for (int c = 1; c < kGridCols; ++c) StringGrid1->setColumnWidth(c, w);
  StringGrid1->viewport()->update();
}

void TSettingsForm::SmoothCheckClick() {
  const bool on = SmoothCheck->isChecked();
  CountEdit->setEnabled(on);
  QPalette p = CountEdit->palette();
  p.setColor(QPalette::Base, palette().color(on ? QPalette::Base : QPalette::Button));
  CountEdit->setPalette(p);
}

void TSettingsForm::ShowInputError(QWidget* control, const QString& message) {
  control->setFocus();
  ShowMessage(message);
  InputError = true;
}

void TSettingsForm::OkButtonClick() {
  InputError = false;
  TSettings& e = EditSettings;
  e.Interval = IntOf(IntervalEdit->text(), 0);
  e.GetHostNames = HostNameCheck->isChecked();
  e.ShowPseudoProcesses = PseudoCheck->isChecked();
  e.IncludeOtherIos = OtherIosCheck->isChecked();
  e.AlwaysOnTop = OnTopCheck->isChecked();
  e.Smooth = SmoothCheck->isChecked();
  e.SmoothCount = IntOf(CountEdit->text(), 0);

  if (e.Interval == 0)
    e.Interval = 2000;
  else if (e.Interval < 1000 || e.Interval > 60000)
    ShowInputError(IntervalEdit, "Sample interval must be between 1000 and 60000 milliseconds");
  if (!InputError && e.Smooth) {
    if (e.SmoothCount == 0)
      e.SmoothCount = 5;
    else if (e.SmoothCount < 2 || e.SmoothCount > 60)
      ShowInputError(CountEdit, "Interval count must be between 2 and 60");
  }
  if (InputError) return;

  e.SmoothChanged = e.Smooth != Settings.Smooth || e.SmoothCount != Settings.SmoothCount;
  ReplaceSettings(e);
  try {
    SaveSettings();
  } catch (const ESettingsError& error) {
    ShowError(QString::fromUtf8(error.what()));  // the dialog stays open
    return;
  }
  accept();
}

TThresholdLevels* TSettingsForm::RowLevels(int row) const {
  return row >= 1 && row < kGridRows ? rows_[static_cast<std::size_t>(row)] : nullptr;
}

QString TSettingsForm::StringGrid1GetEditText(int col, int row) const {
  const TThresholdLevels* l = RowLevels(row);
  if (!l || col < 1 || col > 3) return StringGrid1->item(row, col)->text();
  return QString::number(col == 1 ? l->Green : col == 2 ? l->Yellow : l->Red);
}

void TSettingsForm::StringGrid1SetEditText(int col, int row, const QString& text) {
  TThresholdLevels* l = RowLevels(row);
  if (!l || (col != 2 && col != 3)) return;
  const int n = IntOf(text, -1);
  if (n >= 0 && n <= l->Max) {
    (col == 2 ? l->Yellow : l->Red) = n;
    l->Green = l->Red > l->Yellow ? 0 : l->Max;
  }
  StringGrid1->viewport()->update();
}

bool TSettingsForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || (watched != IntervalEdit && watched != CountEdit))
    return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  switch (key->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:  // an editing key, though some keyboards send it as a character
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      return false;  // backspace and delete edit; the others belong to the dialog
    default:
      break;
  }
  const QString text = key->text();
  if (text.isEmpty()) return false;  // cursor movement and the like are no characters
  return !(text.size() == 1 && text[0] >= '0' && text[0] <= '9');
}

void TLevelsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
  const int row = index.row(), col = index.column();
  const QPalette& pal = option.palette;
  const QRect rect = option.rect;
  const bool selected = row > 0 && col > 0 && (option.state & QStyle::State_Selected);
  QColor background = pal.color(QPalette::Base);
  if (row == 0 && col > 0)
    background = col == 1 ? QColor(0, 255, 0) : col == 2 ? QColor(255, 255, 0) : QColor(255, 0, 0);
  else if (col == 0)
    background = pal.color(QPalette::Button);
  else if (selected)
    background = pal.color(QPalette::Highlight);
  painter->save();
  painter->fillRect(rect, background);
  painter->setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
  QFont font = option.font;
  const int x = rect.left() + 2, y = rect.top() + 2;
  if (row == 0 && col == 0) {
    font.setBold(true);
    painter->setFont(font);
    painter->drawText(QRect(x, y, rect.width() - 4, rect.height() - 2),
                      Qt::AlignLeft | Qt::AlignTop, index.data().toString());
  } else if (col == 0) {
    painter->setFont(font);
    const QString name = index.data().toString();
    const int w = painter->fontMetrics().horizontalAdvance(name);
    painter->drawText(QPoint(rect.right() - w - 6, y + painter->fontMetrics().ascent()), name);
  } else if (row > 0) {
    painter->setFont(font);
    painter->drawText(QRect(x, y, rect.width() - 4, rect.height() - 2),
                      Qt::AlignLeft | Qt::AlignTop, form_->StringGrid1GetEditText(col, row));
  }
  painter->restore();
}

QWidget* TLevelsDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                       const QModelIndex& index) const {
  auto* editor = new QLineEdit(parent);
  editor->setFrame(false);
  const int row = index.row(), col = index.column();
  connect(editor, &QLineEdit::textEdited, form_, [form = form_, row, col](const QString& text) {
    form->StringGrid1SetEditText(col, row, text);
  });
  return editor;
}

void TLevelsDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  static_cast<QLineEdit*>(editor)->setText(
      form_->StringGrid1GetEditText(index.column(), index.row()));
}

// Closing the editor hands its final text over once more; the grid keeps no text of its own.
void TLevelsDelegate::setModelData(QWidget* editor, QAbstractItemModel*,
                                   const QModelIndex& index) const {
  if (form_->destroying_) return;
  form_->StringGrid1SetEditText(index.column(), index.row(),
                                static_cast<QLineEdit*>(editor)->text());
}

}  // namespace ombrix
