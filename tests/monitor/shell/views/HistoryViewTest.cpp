// The History view offscreen, over a history file written by the test: the sixth view
// button, the levels' bands, the pointer's text, a click's list and its copy.
#include "monitor/shell/views/HistoryView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QImage>
#include <QTest>
#include <QVBoxLayout>

#include "monitor/history/HistoryText.h"
#include "monitor/shell/views/ViewColumns.h"
#include "monitor/shell/views/Views.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

constexpr std::int64_t Now = 1713999960000;

THistorySample Tick(std::int64_t time, double cpu, const std::string& busiest) {
  THistorySample s;
  s.Time = time;
  s.Span = 2000;
  s.Mean = s.Peak = {cpu, 30, 1, 0};
  s.Consumers = {{TConsumerKind::Processor, 4242, busiest, {}, cpu},
                 {TConsumerKind::File, 4242, "/var/log/big.log", busiest, 2048 * 1024},
                 {TConsumerKind::Socket, 17, "example.org (https - 443)", "fetch", 10240}};
  return s;
}

class HistoryViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = TSettings();
    {
      THistoryStore store(dir.File("Ombrix.history"), THistoryStore::TAccess::Write);
      // The last five minutes at 2 seconds, "spin" busy a minute ago.
      for (std::int64_t t = Now - 300000; t <= Now; t += 2000)
        store.Append(Tick(t, t == Spin ? 97.5 : 3, t == Spin ? "spin" : "idle-ish"));
    }
    view.HistoryPath = [this] { return path; };
    view.Now = [] { return Now; };
    view.RecorderText = [] { return QStringLiteral("Recording to test"); };
    view.resize(700, 420);
    view.show();
    view.Reload(true);
  }
  QPoint InStrip(int resource, std::int64_t time) {
    return {view.Charts->XOf(time), view.Charts->StripRect(resource).center().y()};
  }

  static constexpr std::int64_t Spin = Now - 60000;
  testing::TempDir dir;
  std::string path = dir.File("Ombrix.history");
  THistoryView view;
};

TEST_F(HistoryViewTest, AClickListsThatMomentsTopConsumersInTheGrid) {
  QTest::mouseClick(view.Charts, Qt::LeftButton, {}, InStrip(2, Spin));
  ASSERT_TRUE(view.Moment);
  EXPECT_EQ(view.Moment->Time, Spin);
  EXPECT_EQ(view.Charts->Chosen, Spin);
  QAbstractItemModel* grid = view.MomentGrid->Model();
  ASSERT_EQ(grid->rowCount(), 3);
  const auto cell = [grid](int row, int column) {
    return grid->index(row, column).data().toString();
  };
  EXPECT_EQ(cell(0, 0), "Processor");
  EXPECT_EQ(cell(0, 1), "spin [4242]");
  EXPECT_EQ(cell(0, 3), "97.50%");
  EXPECT_EQ(cell(1, 0), "File");
  EXPECT_EQ(cell(1, 2), "/var/log/big.log");
  EXPECT_EQ(cell(1, 3), "2,048 K/s");
  EXPECT_EQ(cell(2, 1), "fetch [17]");
  EXPECT_TRUE(view.MomentLabel->text().startsWith(MomentText(Spin)))
      << view.MomentLabel->text().toStdString();
  EXPECT_EQ(grid->headerData(2, Qt::Horizontal).toString(), "File or Remote End");
}

TEST_F(HistoryViewTest, ThePointerTellsTheNearestMomentAndNothingWhereNoneWasRecorded) {
  const QString text = view.HoverText(Spin + 400);
  EXPECT_TRUE(text.startsWith(MomentText(Spin))) << text.toStdString();
  EXPECT_TRUE(text.contains("Processor 97.50%")) << text.toStdString();
  EXPECT_TRUE(text.contains("Processor: spin [4242] 97.50%")) << text.toStdString();
  EXPECT_TRUE(text.contains("Socket: example.org (https - 443), fetch [17]")) << text.toStdString();
  EXPECT_EQ(view.HoverText(Now - 500000), "");  // before the first sample
}

TEST_F(HistoryViewTest, CopyPutsTheChosenMomentOnTheClipboard) {
  view.CopyMoment();  // nothing chosen: nothing copied
  QApplication::clipboard()->setText("before");
  view.CopyMoment();
  EXPECT_EQ(QApplication::clipboard()->text(), "before");
  view.ChooseMoment(Spin);
  view.CopyMoment();
  const QString copied = QApplication::clipboard()->text();
  EXPECT_TRUE(copied.startsWith(MomentText(Spin))) << copied.toStdString();
  EXPECT_TRUE(copied.contains("Processor  spin [4242]  97.50%")) << copied.toStdString();
}

TEST(HistoryBands, LevelsMakeBandsInTheirStatesOnEitherScale) {
  const auto rising = LevelBands({0, 75, 90, 100});
  ASSERT_EQ(rising.size(), 3u);
  EXPECT_EQ(rising[0].State, stGreen);
  EXPECT_DOUBLE_EQ(rising[0].High, 75);
  EXPECT_EQ(rising[1].State, stYellow);
  EXPECT_DOUBLE_EQ(rising[1].High, 90);
  EXPECT_EQ(rising[2].State, stRed);
  EXPECT_DOUBLE_EQ(rising[2].High, 100);
  const auto falling = LevelBands({100, 60, 20, 100});  // low is bad
  ASSERT_EQ(falling.size(), 3u);
  EXPECT_EQ(falling[0].State, stRed);
  EXPECT_EQ(falling[2].State, stGreen);
  EXPECT_DOUBLE_EQ(falling[2].Low, 60);
  const auto neverRed = LevelBands({0, 50, 100, 100});
  ASSERT_EQ(neverRed.size(), 2u);
  EXPECT_EQ(neverRed[1].State, stYellow);
}

TEST_F(HistoryViewTest, TheStripsShowTheUsersLevelsBehindTheFigures) {
  Settings.CpuInuse = {0, 50, 80, 100};
  view.Reload(true);
  const QImage image = view.Charts->grab().toImage();
  const QRect strip = view.Charts->StripRect(0);
  // Left of the first sample, where no figure is drawn.
  const int x = strip.left() + 3;
  const auto at = [&](double percent) {
    return QColor(image.pixel(x, strip.bottom() - int(percent / 100 * strip.height())));
  };
  EXPECT_EQ(at(25), QColor(218, 242, 218));
  EXPECT_EQ(at(65), QColor(250, 243, 196));
  EXPECT_EQ(at(95), QColor(250, 214, 214));
  // Where "spin" ran the peak reaches into the red band.
  const int spinX = view.Charts->XOf(Spin);
  EXPECT_NE(QColor(image.pixel(spinX, strip.top() + strip.height() / 20)), QColor(250, 214, 214));
}

TEST_F(HistoryViewTest, SpansLookFurtherBackAndAMissingFileSaysSo) {
  view.SpanButtons[3]->click();
  EXPECT_EQ(view.Span, 3);
  EXPECT_EQ(view.Charts->From, Now - 7 * 86400000LL);
  EXPECT_FALSE(view.Charts->Points.empty());
  EXPECT_TRUE(view.Charts->Message.isEmpty());
  path = dir.File("absent");
  view.Reload(true);
  EXPECT_TRUE(view.Charts->Points.empty());
  EXPECT_TRUE(view.Charts->Message.startsWith("Nothing recorded yet"))
      << view.Charts->Message.toStdString();
  EXPECT_TRUE(view.Charts->Message.contains("Recording to test"));
}

TEST(HistoryTimeScale, MarksFallOnWholeLocalMinutesHoursAndDays) {
  const std::int64_t from = QDateTime(QDate(2024, 5, 1), QTime(14, 3, 27)).toMSecsSinceEpoch();
  const auto marks = TimeMarks(from, from + 600000);
  ASSERT_EQ(marks.size(), 5u);  // every two minutes
  EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(marks[0]).time(), QTime(14, 4));
  EXPECT_EQ(marks[1] - marks[0], 120000);
  const auto week = TimeMarks(from, from + 7 * DayMs);
  ASSERT_EQ(week.size(), 7u);
  for (std::int64_t mark : week)
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(mark).time(), QTime(0, 0));
  EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(week[0]).date(), QDate(2024, 5, 2));
  EXPECT_LE(TimeMarks(from, from + 3600000).size(), 7u);
}

TEST(HistoryButton, TheSixthViewButtonShowsTheHistoryInPlaceOfTheGrid) {
  QWidget window;
  window.resize(700, 415);
  auto* layout = new QVBoxLayout(&window);
  auto* panel2 = new QWidget(&window);
  layout->addWidget(panel2);
  // A child of the window, as in the program: it goes with the window, after the grid's panel.
  auto* views = new TViews(nullptr, &window, panel2);
  QString caption;
  bool shown = false;
  int refreshed = 0;
  views->SetCaption = [&caption](const QString& text) { caption = text; };
  views->ShowHistory = [&shown](bool history) { shown = history; };
  views->RefreshHistory = [&refreshed] { ++refreshed; };
  window.show();
  QTest::mouseClick(views->HistoryButton, Qt::LeftButton);
  EXPECT_EQ(views->CurrentView, vwHistory);
  EXPECT_EQ(caption, "Ombrix - History");
  EXPECT_TRUE(shown);
  EXPECT_TRUE(views->HistoryButton->isChecked());
  EXPECT_FALSE(views->ProcessList->isVisible());
  views->Refresh(false);
  EXPECT_EQ(refreshed, 2);  // the click's own refresh, then the tick's
  QTest::mouseClick(views->ProcessButton, Qt::LeftButton);
  EXPECT_FALSE(shown);
  EXPECT_EQ(caption, "Ombrix - Processes");
  EXPECT_GT(views->HistoryButton->x(), views->SocketButton->x());
}

}  // namespace
}  // namespace ombrix
