// The History view: four strip charts (Processor, Memory, Disk, Network) of the recorded
// figures over a chosen span, the user's levels behind them as green, yellow and red bands.
// The pointer over a moment tells its time, figures and top consumers; a click lists that
// moment's top processes, files and sockets in the grid below, and Ctrl+C copies them.
// Reads the history file afresh for each look, so that it shows what any monitor recorded.
#pragma once
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "monitor/history/HistorySample.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/indicators/Indicators.h"
#include "monitor/shell/views/DrawGrid.h"

namespace ombrix {

inline constexpr const char* HistoryCaption = "Ombrix - History";

// The spans a user looks back over.
inline constexpr std::array<std::int64_t, 4> HistorySpans{600000, 3600000, 86400000, 604800000};

// The History button's picture: a small chart over its axes.
QIcon HistoryButtonIcon();

// A stretch of the percent scale in one state's colour.
struct TLevelBand {
  double Low = 0;
  double High = 0;
  TState State = stGreen;
};
// The bands of a resource's levels over 0..100 percent, from the bottom, each in the state
// a figure inside it takes (LevelState); at most three.
std::vector<TLevelBand> LevelBands(const TThresholdLevels& levels);

// The time scale's marks from `from` to `to`: whole minutes, hours or days of local time,
// evenly apart, at most seven or so.
std::vector<std::int64_t> TimeMarks(std::int64_t from, std::int64_t to);

// Whether two neighbouring chart points are apart by more than their samples' spacing
// explains (the monitor did not run between them): the line breaks there.
bool ChartGap(const TChartPoint& a, const TChartPoint& b, std::int64_t bucket);

// The four strips and the time scale under them, painted by hand.
class THistoryCharts : public QWidget {
  Q_OBJECT

 public:
  explicit THistoryCharts(QWidget* parent = nullptr);

  std::int64_t From = 0, To = 1, Bucket = 1;
  std::vector<TChartPoint> Points;
  std::optional<std::int64_t> Chosen;  // the moment clicked
  QString Message;                     // instead of the charts, when there is nothing to show

  // The moment at a horizontal position, and back.
  std::int64_t TimeAt(int x) const;
  int XOf(std::int64_t time) const;
  // The strip of resource (0 Processor .. 3 Network) and the time scale's row.
  QRect StripRect(int resource) const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void Hovered(std::int64_t time, QPoint globalPos);
  void Clicked(std::int64_t time);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void PaintStrip(QPainter& painter, int resource);
  void PaintFigures(QPainter& painter, int resource, const QRect& area);
  void PaintLabel(QPainter& painter, int resource, const QRect& area);
  void PaintTimeScale(QPainter& painter);
  int LabelWidth() const;
};

class THistoryView : public QWidget {
  Q_OBJECT

 public:
  explicit THistoryView(QWidget* parent = nullptr);

  std::array<QToolButton*, 4> SpanButtons{};
  THistoryCharts* Charts;
  QLabel* MomentLabel;
  TDrawGrid* MomentGrid;

  // Where it reads and what it says of the recorder; the wall clock in milliseconds.
  std::function<std::string()> HistoryPath;
  std::function<QString()> RecorderText;
  std::function<std::int64_t()> Now;

  int Span = 0;                          // index into HistorySpans
  std::optional<THistorySample> Moment;  // the moment listed in the grid

  void SpanButtonClick(int index);
  // Reads the span's figures again; a long span at most once per stretch of its chart.
  void Reload(bool always = false);
  // Lists the sample nearest to time in the grid.
  void ChooseMoment(std::int64_t time);
  // What the pointer over time tells: the nearest sample's time, figures and top consumer
  // of each kind; empty where nothing was recorded.
  QString HoverText(std::int64_t time);
  // The chosen moment as text on the clipboard.
  void CopyMoment();
  // The grid's cell (row from 1): resource, process, file or remote end, value.
  QString MomentCell(int column, int row) const;

 protected:
  // The grid's columns follow its width.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QHBoxLayout* CreateSpanRow();
  void CreateMomentGrid();
  template <typename F>
  auto WithStore(F read) -> std::optional<decltype(read(std::declval<THistoryStore&>()))>;
  void ShowMoment();
  void DrawMomentCell(QPainter& painter, int column, int row, const QRect& rect, bool selected);
  void LayoutGrid();
  std::int64_t loadedAt_ = 0;
  std::int64_t lastHoverBucket_ = -1;
  QString hoverText_;
};

}  // namespace ombrix
