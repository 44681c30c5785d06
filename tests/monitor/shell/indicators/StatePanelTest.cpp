#include "monitor/shell/indicators/StatePanel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include "monitor/shell/images/ImageList.h"

namespace {

using namespace ombrix;

TEST(StatePanel, ShowsEachResourcesDiscAndStartsGreen) {
  TStatePanel panel;
  EXPECT_EQ(panel.ProcessorState->State(), stGreen);
  TStates states;
  states.Memory = stYellow;
  states.Disk = stRed;
  states.Overall = stRed;
  panel.ShowStates(states);
  EXPECT_EQ(panel.ProcessorState->State(), stGreen);
  EXPECT_EQ(panel.MemoryState->State(), stYellow);
  EXPECT_EQ(panel.DiskState->State(), stRed);
  EXPECT_EQ(panel.NetworkState->State(), stGreen);
}

TEST(StatePanel, HintsStartAsResourceNamesAndTakeTheFigures) {
  TStatePanel panel;
  EXPECT_EQ(panel.DiskState->toolTip(), "Disk");
  panel.SetHints(StateHints({"1.00%", "2.00% (3MB avail)", "4.00%", "5.00%"}));
  EXPECT_EQ(panel.ProcessorState->toolTip(), "Processor: 1.00%");
  EXPECT_EQ(panel.NetworkState->toolTip(), "Network: 5.00%");
  panel.SetHints(HiddenHints());
  EXPECT_EQ(panel.MemoryState->toolTip(), "Memory");
}

TEST(StatePanel, ADoubleClickOnAnyIconAsksForATrace) {
  TStatePanel panel;
  panel.show();
  QSignalSpy spy(&panel, &TStatePanel::StateDoubleClicked);
  QTest::mouseDClick(panel.MemoryState, Qt::LeftButton, {}, QPoint(8, 8));
  QTest::mouseDClick(panel.NetworkState, Qt::LeftButton, {}, QPoint(8, 8));
  EXPECT_EQ(spy.count(), 2);
  QTest::mouseClick(panel.DiskState, Qt::LeftButton, {}, QPoint(8, 8));
  EXPECT_EQ(spy.count(), 2);
}

TEST(TrayMenu, CaptionsAndStateImagesReachTheMenuItems) {
  QAction about("About..."), processor("Processor usage"), memory("Memory usage"),
      disk("Disk busy"), network("Network activity"), elapsed("Elapsed time");
  const TTrayMenuItems items{&about, &processor, &memory, &disk, &network, &elapsed};
  ApplyTrayCaptions(items, TrayCaptions({"1.00%", "2.00% (3MB avail)", "4.00%", "5.00%"}, 2));
  EXPECT_EQ(about.text(), "About Ombrix...");
  EXPECT_EQ(memory.text(), "Memory: 2.00% (3MB avail)");
  EXPECT_EQ(elapsed.text(), "Interval: 2.0 secs");
  EXPECT_TRUE(processor.icon().isNull());
  TStates states;
  states.Disk = stRed;
  ApplyMenuStates(items, states);
  const QImage red = disk.icon().pixmap(16, 16).toImage();
  const QImage green = processor.icon().pixmap(16, 16).toImage();
  EXPECT_GT(red.pixelColor(8, 8).red(), red.pixelColor(8, 8).green());
  EXPECT_GT(green.pixelColor(8, 8).green(), green.pixelColor(8, 8).red());
  EXPECT_TRUE(elapsed.icon().isNull());  // not an indicator
}

TEST(TrayMenu, TheTrayIconShowsTheWorstStateWhileTheIconsKeepTheirOwn) {
  TStatePanel panel;
  QAction processor, memory, disk, network;
  const TTrayMenuItems items{nullptr, &processor, &memory, &disk, &network, nullptr};
  QSystemTrayIcon tray;
  TStates states;
  states.Disk = stRed;
  states.Overall = stRed;
  ShowStates(states, &panel, nullptr, &tray);
  EXPECT_EQ(panel.ProcessorState->State(), stGreen);
  EXPECT_EQ(panel.DiskState->State(), stRed);
  EXPECT_TRUE(disk.icon().isNull());  // the menu only when it opens
  const QImage icon = tray.icon().pixmap(16, 16).toImage();
  EXPECT_GT(icon.pixelColor(8, 8).red(), icon.pixelColor(8, 8).green() + 80);
  states.Disk = states.Overall = stYellow;
  ShowStates(states, nullptr, &items, &tray);
  EXPECT_EQ(panel.DiskState->State(), stRed);  // hidden window: icons untouched
  EXPECT_FALSE(disk.icon().isNull());
}

TEST(TrayTip, CarriageReturnsBecomeLineBreaksOnlyForDisplay) {
  const QString tip = TipText({"1.00%", "2.00% (3MB avail)", "4.00%", "5.00%"});
  EXPECT_TRUE(tip.contains('\r'));
  const QString shown = TipForDisplay(tip);
  EXPECT_FALSE(shown.contains('\r'));
  EXPECT_EQ(shown.count('\n'), 3);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
