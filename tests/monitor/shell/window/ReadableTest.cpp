// The window at its default size, as a new user first sees it: every view, filled with the
// wide figures of a busy desktop, shows each figure and each column title whole. Run at
// device pixel ratio 1 and, by a second CTest entry, at 2.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>

#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/MainForm.h"
#include "monitor/shell/views/ViewColumns.h"
#include "tests/support/ScopedSettings.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

class ReadableWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    SettingsOwner = dir.File("Ombrix");
    form = std::make_unique<TMainForm>(nullptr);
    form->TrayHostPresent = [] { return true; };
    form->FormCreate();
    form->Timer1->stop();  // only the figures below are shown
    form->Views->SetTables(&tables);
    FillBusyDesktop();
    form->resize(Settings.Width, Settings.Height);
    form->show();
  }
  void TearDown() override {
    form->Views->SetTables(nullptr);
    form.reset();
    SettingsOwner.clear();
  }

  // Process ids far above any live process, so no image path is read from the system.
  void FillBusyDesktop() {
    TProcessInfo* browser = tables.FindOrCreateProcess(4000001, "firefox-esr");
    browser->ProcessorAvg.Add(100);
    browser->ContextSwitchRateAvg.Add(23456.78);
    browser->WorkingSetAvg.Add(3456789.0 * 1024);
    browser->PrivateBytesAvg.Add(12345678.0 * 1024);
    browser->IoRateAvg.Add(4567.89);
    browser->IoByteRateAvg.Add(8765432.1);
    browser->PacketRateAvg.Add(12345.67);
    browser->IpByteRateAvg.Add(5432109.87);
    browser->RegistryRateAvg.Add(0);
    browser->ThreadCount = 1234;
    browser->Touch(true);
    TDiskInfo& disk = *tables.Disks[tables.FindOrCreateDisk("/home")];
    disk.FreeSpaceAvg.Add(100);
    disk.BusyPercentAvg.Add(99.99);
    disk.IoRateAvg.Add(23456.78);
    disk.ByteRateAvg.Add(3456789012.34);
    disk.QueueDepthAvg.Add(123.45);
    disk.Touch(true);
    TAdapterInfo& adapter = *tables.Adapters[tables.FindOrCreateAdapter("enp3s0")];
    adapter.Bandwidth = 10000000000;
    adapter.PacketRateAvg.Add(812345.67);
    adapter.ByteRateAvg.Add(1187654321.09);
    adapter.ErrorRateAvg.Add(12.34);
    adapter.Touch(true);
    TFileInfo* file = tables.FindOrCreateFile(4000001, 7);
    file->SetName("/home/user/.mozilla/firefox/profile/places.sqlite");
    file->IoRateAvg.Add(34567.89);
    file->ByteRateAvg.Add(2345678901.23);
    file->ResponseAvg.Add(12345.67);
    file->Touch(true);
    TSocketInfo* socket = tables.FindOrCreateSocket(4000001, 0x0A000001, 443);
    socket->PacketRateAvg.Add(812345.67);
    socket->ByteRateAvg.Add(1187654321.09);
    socket->Touch(true);
  }
  TGridHeader* Header() const {
    return qobject_cast<TGridHeader*>(form->DrawGrid1->horizontalHeader());
  }
  // Paints the window as the screen would, each view in turn; the name of each view's
  // first row, to tell that the figures were really there to paint.
  QStringList PaintEveryView() {
    QStringList names;
    for (int view = 0; view < ViewCount; ++view) {
      form->Views->ProcessButtonClick(view);
      QApplication::processEvents();
      (void)form->grab();
      names << form->DrawGrid1->Model()->index(0, 0).data().toString();
    }
    return names;
  }

  ombrix::testing::ScopedSettings settings_{TSettings{}};
  testing::TempDir dir;
  TEntityTables tables;
  std::unique_ptr<TMainForm> form;
};

TEST_F(ReadableWindow, EveryFigureAndTitleIsWholeAtTheDefaultSize) {
  ASSERT_NE(Header(), nullptr);
  const QStringList names = PaintEveryView();
  EXPECT_EQ(form->Views->CutCells(), 0);
  EXPECT_EQ(Header()->CutTitles(), 0);
  EXPECT_EQ(names, QStringList({"firefox-esr", "/home", "places.sqlite", "enp3s0", "https - 443"}));
}

TEST_F(ReadableWindow, ANarrowFaceKeepsTheDefaultSizeModest) {
  const QString family = QFontInfo(form->DrawGrid1->font()).family();
  EXPECT_TRUE(family.contains("Narrow") || family.contains("Condensed")) << family.toStdString();
  // The design's proportions, a little wider than its 587 x 415.
  EXPECT_GE(Settings.Width, 587);
  EXPECT_LE(Settings.Width, 800);
  EXPECT_NEAR(Settings.Height, Settings.Width * 415.0 / 587, 1);
  EXPECT_EQ(form->size(), QSize(Settings.Width, Settings.Height));
}

TEST_F(ReadableWindow, AFigureBeyondTheExpectedIsCutAndToldWhole) {
  tables.Processes.front()->IoByteRateAvg.Add(1e15);  // a petabyte a second
  form->Views->SortColumn = 6;
  PaintEveryView();
  EXPECT_GT(form->Views->CutCells(), 0);
}

TEST_F(ReadableWindow, ASizeTheUserChoseIsKept) {
  dir.Write("Ombrix.ini", "[Settings]\nWidth=587\nHeight=416\n");
  auto other = std::make_unique<TMainForm>(nullptr);
  other->TrayHostPresent = [] { return true; };
  other->FormCreate();
  EXPECT_EQ(Settings.Width, 587);
  EXPECT_EQ(Settings.Height, 416);
}

}  // namespace
}  // namespace ombrix

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
