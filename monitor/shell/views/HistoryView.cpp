#include "monitor/shell/views/HistoryView.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "monitor/history/HistoryText.h"
#include "monitor/shell/views/ViewFormat.h"
#include "monitor/shell/views/Views.h"
#include "platform/paths/Paths.h"

namespace ombrix {

namespace {

constexpr const char* SpanNames[] = {"10 minutes", "1 hour", "24 hours", "7 days"};
constexpr const char* MomentTitles[] = {"Resource", "Process", "File or Remote End", "Value"};
constexpr int MomentColumns = 4;
constexpr int StripGap = 3;
// A long span's chart is read again at most once a minute.
constexpr std::int64_t LongestReload = 60000;

const TThresholdLevels& LevelsOf(int resource) {
  switch (resource) {
    case 0:
      return Settings.CpuInuse;
    case 1:
      return Settings.MemoryInuse;
    case 2:
      return Settings.DiskBusy;
    default:
      return Settings.NetworkBusy;
  }
}

double FigureOf(const TFigureSet& figures, int resource) {
  const double values[] = {figures.Processor, figures.Memory, figures.Disk, figures.Network};
  return values[std::clamp(resource, 0, 3)];
}

// Height of a percentage in a strip, 0 at its bottom edge.
double PercentY(const QRect& area, double percent) {
  return area.bottom() + 1 - std::clamp(percent, 0.0, 100.0) / 100.0 * area.height();
}

// Light tints of the state discs' colours, so that the figures' lines read over them.
QColor BandColour(TState state) {
  switch (state) {
    case stRed:
      return {250, 214, 214};
    case stYellow:
      return {250, 243, 196};
    default:
      return {218, 242, 218};
  }
}

}  // namespace

QIcon HistoryButtonIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(64, 64, 64), 2));
  p.drawLine(4, 28, 28, 28);
  p.drawLine(4, 4, 4, 28);
  p.setPen(QPen(QColor(0, 0, 160), 3));
  const QPointF line[] = {{6, 22}, {12, 14}, {17, 19}, {22, 7}, {28, 12}};
  p.drawPolyline(line, 5);
  return QIcon(pixmap);
}

std::vector<TLevelBand> LevelBands(const TThresholdLevels& levels) {
  std::set<double> edges{0, 100};
  for (double level : {double(levels.Yellow), double(levels.Red)})
    if (level > 0 && level < 100) edges.insert(level);
  std::vector<TLevelBand> bands;
  for (auto low = edges.begin(), high = std::next(low); high != edges.end(); ++low, ++high) {
    const TState state = LevelState((*low + *high) / 2, levels);
    if (!bands.empty() && bands.back().State == state) {
      bands.back().High = *high;
    } else {
      bands.push_back({*low, *high, state});
    }
  }
  return bands;
}

std::vector<std::int64_t> TimeMarks(std::int64_t from, std::int64_t to) {
  constexpr std::int64_t Minute = 60000, Hour = 60 * Minute;
  const std::int64_t steps[] = {Minute,      2 * Minute,  5 * Minute, 10 * Minute,
                                15 * Minute, 30 * Minute, Hour,       2 * Hour,
                                3 * Hour,    4 * Hour,    6 * Hour,   12 * Hour};
  std::int64_t step = DayMs;
  for (std::int64_t s : steps) {
    if ((to - from) / s > 6) continue;
    step = s;
    break;
  }
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(from);
  const int minutes = start.time().hour() * 60 + start.time().minute();
  const int stepMinutes = int(std::min(step, Hour * 24) / Minute);
  const int first = step >= DayMs ? 0 : minutes / stepMinutes * stepMinutes;
  QDateTime mark(start.date(), QTime(first / 60, first % 60));
  std::vector<std::int64_t> marks;
  // Counted in local time, so that marks stay on whole hours and days across a change of
  // summer time; never more than the span's steps.
  for (int n = 0; n < 64 && mark.toMSecsSinceEpoch() <= to; ++n) {
    if (mark.toMSecsSinceEpoch() >= from) marks.push_back(mark.toMSecsSinceEpoch());
    mark = step >= DayMs ? mark.addDays(1) : mark.addSecs(step / 1000);
  }
  return marks;
}

bool ChartGap(const TChartPoint& a, const TChartPoint& b, std::int64_t bucket) {
  const std::int64_t spacing = std::max({bucket, a.Span, b.Span});
  return b.First - a.Last > 3 * spacing;
}

THistoryCharts::THistoryCharts(QWidget* parent) : QWidget(parent) {
  setObjectName("HistoryCharts");
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

int THistoryCharts::LabelWidth() const {
  return fontMetrics().horizontalAdvance(QStringLiteral("Processor 100.00%")) + 8;
}

QRect THistoryCharts::StripRect(int resource) const {
  const int scale = fontMetrics().height() + 2;
  const int height = std::max(8, (this->height() - scale - 3 * StripGap) / 4);
  const int left = LabelWidth();
  const int top = resource * (height + StripGap);
  if (resource >= 4) return {left, top, width() - left - 2, scale};
  return {left, top, width() - left - 2, height};
}

QSize THistoryCharts::sizeHint() const {
  return {400, 4 * 48 + 3 * StripGap + fontMetrics().height() + 2};
}

QSize THistoryCharts::minimumSizeHint() const {
  return {200, 4 * 20 + 3 * StripGap + fontMetrics().height() + 2};
}

std::int64_t THistoryCharts::TimeAt(int x) const {
  const QRect area = StripRect(0);
  const double at = std::clamp(double(x - area.left()) / std::max(1, area.width()), 0.0, 1.0);
  return From + std::llround(at * double(To - From));
}

int THistoryCharts::XOf(std::int64_t time) const {
  const QRect area = StripRect(0);
  const double at = double(time - From) / double(std::max<std::int64_t>(1, To - From));
  return area.left() + int(std::lround(at * area.width()));
}

void THistoryCharts::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  for (int resource = 0; resource < 4; ++resource) PaintStrip(painter, resource);
  PaintTimeScale(painter);
  if (!Message.isEmpty()) {
    painter.setPen(palette().color(QPalette::Text));
    const QRect strips = StripRect(0).united(StripRect(3));
    painter.drawText(strips, Qt::AlignCenter | Qt::TextWordWrap, Message);
  }
}

void THistoryCharts::PaintStrip(QPainter& painter, int resource) {
  const QRect area = StripRect(resource);
  for (const TLevelBand& band : LevelBands(LevelsOf(resource)))
    painter.fillRect(QRectF(QPointF(area.left(), PercentY(area, band.High)),
                            QPointF(area.right() + 1, PercentY(area, band.Low))),
                     BandColour(band.State));
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(area.adjusted(0, 0, -1, -1));
  PaintFigures(painter, resource, area);
  PaintLabel(painter, resource, area);
}

// The resource's name at the strip's top, its latest figure at its foot.
void THistoryCharts::PaintLabel(QPainter& painter, int resource, const QRect& area) {
  painter.setPen(palette().color(QPalette::WindowText));
  const double last = Points.empty() ? 0 : FigureOf(Points.back().Mean, resource);
  const QString name = KindName(static_cast<TConsumerKind>(resource));
  painter.drawText(QRect(2, area.top(), LabelWidth() - 4, area.height()),
                   Qt::AlignLeft | Qt::AlignTop, name);
  if (!Points.empty())
    painter.drawText(QRect(2, area.top(), LabelWidth() - 6, area.height()),
                     Qt::AlignRight | Qt::AlignBottom, FormatPercent(last));
}

// The peaks as a light area, the means as a line over it; both break where nothing was
// recorded.
void THistoryCharts::PaintFigures(QPainter& painter, int resource, const QRect& area) {
  const auto yOf = [&area](double percent) { return PercentY(area, percent); };
  const double base = area.bottom() + 1;
  QPainterPath peaks, means;
  for (std::size_t i = 0; i < Points.size(); ++i) {
    const TChartPoint& p = Points[i];
    const double x = XOf((p.First + p.Last) / 2);
    const bool start = i == 0 || ChartGap(Points[i - 1], p, Bucket);
    if (start && i > 0) peaks.lineTo(peaks.currentPosition().x(), base);
    if (start) {
      peaks.moveTo(x, base);
      means.moveTo(x, yOf(FigureOf(p.Mean, resource)));
    }
    peaks.lineTo(x, yOf(FigureOf(p.Peak, resource)));
    means.lineTo(x, yOf(FigureOf(p.Mean, resource)));
  }
  if (!Points.empty()) peaks.lineTo(peaks.currentPosition().x(), base);
  painter.save();
  painter.setClipRect(area);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillPath(peaks, QColor(0, 0, 255, 50));
  painter.setPen(QPen(QColor(0, 0, 160), 1.5));
  painter.drawPath(means);
  if (Chosen) {
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DashLine));
    painter.drawLine(XOf(*Chosen), area.top(), XOf(*Chosen), area.bottom());
  }
  painter.restore();
}

void THistoryCharts::PaintTimeScale(QPainter& painter) {
  const QRect scale = StripRect(4);
  const bool days = To - From > DayMs;
  const QString format = days ? QStringLiteral("ddd d") : QStringLiteral("HH:mm");
  painter.setPen(palette().color(QPalette::WindowText));
  int free = scale.left();  // labels never overlap
  for (const std::int64_t mark : TimeMarks(From, To)) {
    const QString text = QDateTime::fromMSecsSinceEpoch(mark).toString(format);
    const int width = fontMetrics().horizontalAdvance(text);
    const int x = XOf(mark);
    painter.drawLine(x, scale.top(), x, scale.top() + 2);
    const int left = std::clamp(x - width / 2, scale.left(), scale.right() - width);
    if (left < free) continue;
    painter.drawText(QPoint(left, scale.top() + fontMetrics().ascent() + 1), text);
    free = left + width + 6;
  }
}

void THistoryCharts::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (at.x() >= StripRect(0).left() && at.y() < StripRect(4).top())
    emit Hovered(TimeAt(at.x()), event->globalPosition().toPoint());
}

void THistoryCharts::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (event->button() == Qt::LeftButton && at.x() >= StripRect(0).left())
    emit Clicked(TimeAt(at.x()));
}

THistoryView::THistoryView(QWidget* parent) : QWidget(parent) {
  setObjectName("HistoryView");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 0);
  layout->setSpacing(2);
  layout->addLayout(CreateSpanRow());
  Charts = new THistoryCharts(this);
  Charts->setFocusPolicy(Qt::ClickFocus);  // so that Ctrl+C after a click copies the moment
  layout->addWidget(Charts, 3);
  connect(Charts, &THistoryCharts::Clicked, this, &THistoryView::ChooseMoment);
  connect(Charts, &THistoryCharts::Hovered, this, [this](std::int64_t time, QPoint at) {
    const QString text = HoverText(time);
    if (text.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(at, text, Charts);
    }
  });
  CreateMomentGrid();
  layout->addWidget(MomentGrid, 2);
  auto* copy =
      new QShortcut(QKeySequence::Copy, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  connect(copy, &QShortcut::activated, this, &THistoryView::CopyMoment);
}

// The span buttons at the left, the chosen moment (or what the recorder does) at the right.
QHBoxLayout* THistoryView::CreateSpanRow() {
  auto* row = new QHBoxLayout();
  auto* spans = new QButtonGroup(this);
  for (int i = 0; i < int(SpanButtons.size()); ++i) {
    auto* button = new QToolButton(this);
    button->setText(QString::fromLatin1(SpanNames[i]));
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setObjectName(QStringLiteral("SpanButton%1").arg(i));
    spans->addButton(button, i);
    row->addWidget(button);
    SpanButtons[static_cast<std::size_t>(i)] = button;
  }
  SpanButtons[0]->setChecked(true);
  connect(spans, &QButtonGroup::idClicked, this, &THistoryView::SpanButtonClick);
  MomentLabel = new QLabel(this);
  MomentLabel->setObjectName("MomentLabel");
  MomentLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MomentLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  row->addWidget(MomentLabel, 1);
  return row;
}

void THistoryView::CreateMomentGrid() {
  MomentGrid = new TDrawGrid(this);
  MomentGrid->setObjectName("MomentGrid");
  TGridModel* model = MomentGrid->Model();
  model->HeaderData = [](int column, int role) -> QVariant {
    if (role != Qt::DisplayRole || column < 0 || column >= MomentColumns) return {};
    return QString::fromLatin1(MomentTitles[column]);
  };
  model->CellText = [this](int column, int row) { return MomentCell(column, row); };
  MomentGrid->setItemDelegate(
      new TGridDelegate([this](QPainter& p, int column, int row, const QRect& rect,
                               bool selected) { DrawMomentCell(p, column, row, rect, selected); },
                        MomentGrid));
  model->SetShape(2, MomentColumns);
  MomentGrid->viewport()->installEventFilter(this);
  MomentGrid->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* menu = new QMenu(MomentGrid);
  menu->addAction(QStringLiteral("Copy"), this, &THistoryView::CopyMoment);
  connect(MomentGrid, &QWidget::customContextMenuRequested, this, [this, menu](const QPoint& at) {
    if (Moment) menu->popup(MomentGrid->viewport()->mapToGlobal(at));
  });
}

template <typename F>
auto THistoryView::WithStore(F read)
    -> std::optional<decltype(read(std::declval<THistoryStore&>()))> {
  const std::string path = HistoryPath ? HistoryPath() : std::string();
  const QString recorder = RecorderText ? RecorderText() : QString();
  if (path.empty() || !platform::FileExists(path)) {
    Charts->Message = QStringLiteral("Nothing recorded yet. ") + recorder;
    return std::nullopt;
  }
  try {
    THistoryStore store(path, THistoryStore::TAccess::Read);
    Charts->Message.clear();
    return read(store);
  } catch (const std::exception& e) {
    Charts->Message = QStringLiteral("The history cannot be read: ") + QString::fromUtf8(e.what());
    return std::nullopt;
  }
}

void THistoryView::SpanButtonClick(int index) {
  if (index < 0 || index >= int(HistorySpans.size())) return;
  Span = index;
  SpanButtons[static_cast<std::size_t>(index)]->setChecked(true);
  Reload(true);
}

void THistoryView::Reload(bool always) {
  const std::int64_t now = Now ? Now() : QDateTime::currentMSecsSinceEpoch();
  const std::int64_t span = HistorySpans[static_cast<std::size_t>(Span)];
  const std::int64_t bucket =
      std::max<std::int64_t>(span / std::max(1, Charts->StripRect(0).width()), 1);
  if (!always && now >= loadedAt_ && now - loadedAt_ < std::min(bucket, LongestReload)) return;
  loadedAt_ = now;
  lastHoverBucket_ = -1;
  Charts->From = now - span;
  Charts->To = now;
  Charts->Bucket = bucket;
  Charts->Points = WithStore([&](THistoryStore& s) {
                     return s.Chart(now - span, now + 1, bucket);
                   }).value_or(std::vector<TChartPoint>{});
  if (Charts->Message.isEmpty() && Charts->Points.empty())
    Charts->Message = QStringLiteral("Nothing recorded in this span. ") +
                      (RecorderText ? RecorderText() : QString());
  if (!Moment) MomentLabel->setText(RecorderText ? RecorderText() : QString());
  Charts->update();
}

void THistoryView::ChooseMoment(std::int64_t time) {
  Moment = WithStore([&](THistoryStore& s) {
             return s.Nearest(time, Charts->From, Charts->To + 1);
           }).value_or(std::nullopt);
  Charts->Chosen = Moment ? std::optional(Moment->Time) : std::nullopt;
  ShowMoment();
}

void THistoryView::ShowMoment() {
  MomentLabel->setText(
      Moment ? MomentText(Moment->Time) + QStringLiteral("  ") + FiguresText(*Moment) : QString());
  MomentLabel->setToolTip(MomentLabel->text());
  const int rows = Moment ? int(Moment->Consumers.size()) : 0;
  MomentGrid->Model()->SetShape(std::max(rows, 1) + 1, MomentColumns);
  MomentGrid->SelectNone();
  MomentGrid->viewport()->update();
  Charts->update();
}

QString THistoryView::HoverText(std::int64_t time) {
  const std::int64_t bucket = (time - Charts->From) / std::max<std::int64_t>(Charts->Bucket, 1);
  if (bucket == lastHoverBucket_) return hoverText_;
  lastHoverBucket_ = bucket;
  hoverText_.clear();
  const std::optional<THistorySample> s =
      WithStore([&](THistoryStore& store) {
        return store.Nearest(time, Charts->From, Charts->To + 1);
      }).value_or(std::nullopt);
  // Over a stretch where nothing was recorded the pointer tells nothing.
  const std::int64_t reach = 3 * std::max(Charts->Bucket, s ? s->Span : 0);
  if (!s || std::abs(time - (s->Folded ? s->Time + s->Span / 2 : s->Time)) > reach) return {};
  hoverText_ = MomentText(s->Time) + QLatin1Char('\n') + FiguresText(*s);
  for (int kind = 0; kind < ConsumerKindCount; ++kind) {
    const TConsumer* top = TopConsumer(*s, static_cast<TConsumerKind>(kind));
    if (top == nullptr) continue;
    const bool owned = top->Kind == TConsumerKind::File || top->Kind == TConsumerKind::Socket;
    hoverText_ += QLatin1Char('\n') + KindName(top->Kind) + QStringLiteral(": ") +
                  (owned ? QString::fromStdString(top->Name) + QStringLiteral(", ") : QString()) +
                  ProcessText(owned ? top->Process : top->Name, top->ProcessId) + QLatin1Char(' ') +
                  ConsumerValueText(top->Kind, top->Value);
  }
  return hoverText_;
}

void THistoryView::CopyMoment() {
  if (Moment) QApplication::clipboard()->setText(SampleText(*Moment));
}

QString THistoryView::MomentCell(int column, int row) const {
  if (!Moment || row < 1 || row > int(Moment->Consumers.size())) return {};
  const TConsumer& c = Moment->Consumers[static_cast<std::size_t>(row - 1)];
  const bool owned = c.Kind == TConsumerKind::File || c.Kind == TConsumerKind::Socket;
  switch (column) {
    case 0:
      return KindName(c.Kind);
    case 1:
      return ProcessText(owned ? c.Process : c.Name, c.ProcessId);
    case 2:
      return owned ? QString::fromStdString(c.Name) : QString();
    case 3:
      return ConsumerValueText(c.Kind, c.Value);
    default:
      return {};
  }
}

void THistoryView::DrawMomentCell(QPainter& painter, int column, int row, const QRect& rect,
                                  bool selected) {
  const QPalette& palette = MomentGrid->palette();
  painter.fillRect(rect, CellColour(CellBackground(row, selected), palette));
  const QString text = MomentCell(column, row);
  if (text.isEmpty()) return;
  painter.save();
  painter.setPen(
      CellColour(selected ? TCellColour::HighlightedText : TCellColour::WindowText, palette));
  painter.setClipRect(rect.adjusted(2, 0, -2, 0));
  const QRect inner = rect.adjusted(2, 2, -2, 0);
  const Qt::Alignment align = (column == 3 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop;
  painter.drawText(inner, static_cast<int>(align), text);
  painter.restore();
}

bool THistoryView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == MomentGrid->viewport() && event->type() == QEvent::Resize) LayoutGrid();
  return QWidget::eventFilter(watched, event);
}

// The file or remote end takes the room that is left: paths and host names are long.
void THistoryView::LayoutGrid() {
  const int width = std::max(MomentGrid->viewport()->width(), 100);
  const int shares[] = {14, 26, 44, 16};
  QHeaderView* header = MomentGrid->horizontalHeader();
  for (int c = 0; c < MomentColumns; ++c) header->resizeSection(c, width * shares[c] / 100);
}

}  // namespace ombrix
