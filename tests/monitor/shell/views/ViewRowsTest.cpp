#include "monitor/shell/views/ViewRows.h"

#include <gtest/gtest.h>

#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/views/ViewColumns.h"

namespace {

using namespace ombrix;

const QLocale English(QLocale::English, QLocale::UnitedStates);

class ViewRows : public ::testing::Test {
 protected:
  void SetUp() override { Settings = TSettings(); }

  // Process ids far above any live process, so no image path is read from the system.
  TProcessInfo* Process(std::uint32_t id, const std::string& name, double cpu) {
    TProcessInfo* p = tables.FindOrCreateProcess(id, name);
    p->ProcessorAvg.Add(cpu);
    return p;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (TInfo* e : tables.Rows) names.push_back(e->GetName());
    return names;
  }

  TEntityTables tables;
};

TEST_F(ViewRows, RowsRunLargestFirstAndAmongEqualsTheLaterEntityComesFirst) {
  Process(4100001, "a", 5);
  Process(4100002, "b", 9);
  Process(4100003, "c", 5);
  Process(4100004, "d", 1);
  Process(4100005, "e", 5);
  BuildRows(tables, vwProcesses, 1, false);
  EXPECT_EQ(Names(), (std::vector<std::string>{"b", "e", "c", "a", "d"}));
  for (TInfo* e : tables.Rows) EXPECT_EQ(e->CompareColumn, 1);
}

TEST_F(ViewRows, OnlyActiveEntitiesAreListedAndNamesCompareWithoutCase) {
  Process(4100001, "beta", 0);
  Process(4100002, "Alpha", 0)->Touch(false);
  Process(4100003, "ALPHA2", 0);
  Process(4100004, "gamma", 0);
  BuildRows(tables, vwProcesses, 0, false);
  EXPECT_EQ(Names(), (std::vector<std::string>{"gamma", "beta", "ALPHA2"}));
}

TEST_F(ViewRows, RowEntityReadsForwardsDescendingAndBackwardsAscending) {
  Process(4100001, "a", 1);
  Process(4100002, "b", 2);
  Process(4100003, "c", 3);
  BuildRows(tables, vwProcesses, 1, false);
  const auto& rows = tables.Rows;
  EXPECT_EQ(RowEntity(rows, 1, true)->GetName(), "c");
  EXPECT_EQ(RowEntity(rows, 3, true)->GetName(), "a");
  EXPECT_EQ(RowEntity(rows, 1, false)->GetName(), "a");
  EXPECT_EQ(RowEntity(rows, 3, false)->GetName(), "c");
  EXPECT_EQ(RowEntity(rows, 0, true), nullptr);
  EXPECT_EQ(RowEntity(rows, 4, false), nullptr);
  EXPECT_EQ(RowEntity(rows, -1, false), nullptr);
  EXPECT_EQ(RowEntity({}, 1, true), nullptr);
}

TEST_F(ViewRows, OverallSortingReachesFilesAsTheyAreBuilt) {
  tables.FindOrCreateFile(4100001, 1)->Touch(true);
  tables.FindOrCreateFile(4100001, 2)->Touch(true);
  BuildRows(tables, vwFiles, 3, true);
  ASSERT_EQ(tables.Rows.size(), 2u);
  for (TInfo* e : tables.Rows) {
    EXPECT_TRUE(e->CompareOverall);
    EXPECT_EQ(e->CompareColumn, 3);
  }
}

TEST_F(ViewRows, FilterKeepsOnlyTheChosenProcessesRows) {
  tables.FindOrCreateFile(4100001, 1)->Touch(true);
  tables.FindOrCreateFile(4100002, 2)->Touch(true);
  tables.FindOrCreateFile(4100001, 3)->Touch(true);
  BuildRows(tables, vwFiles, 0, false);
  FilterRows(tables.Rows, 4100001);
  ASSERT_EQ(tables.Rows.size(), 2u);
  for (TInfo* e : tables.Rows) EXPECT_EQ(e->ProcessId, 4100001u);
}

TEST_F(ViewRows, ProcessListOffersProcessesThatUsedTheViewsResourceAlphabetically) {
  Process(4100003, "zeta", 0)->SawDiskIo = true;
  Process(4100001, "Alpha", 0)->SawDiskIo = true;
  Process(4100002, "beta", 0)->SawNetwork = true;
  TProcessInfo* idle = Process(0, "_Idle", 0);
  idle->SawDiskIo = true;
  ASSERT_TRUE(idle->Permanent);
  const auto files = ProcessListEntries(tables, vwFiles);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].Text, "<all processes>");
  EXPECT_TRUE(files[0].AllProcesses);
  EXPECT_EQ(files[1].Text, "Alpha [4100001]");
  EXPECT_EQ(files[1].ProcessId, 4100001u);
  EXPECT_EQ(files[2].Text, "zeta [4100003]");
  const auto sockets = ProcessListEntries(tables, vwSockets);
  ASSERT_EQ(sockets.size(), 2u);
  EXPECT_EQ(sockets[1].Text, "beta [4100002]");
}

TEST_F(ViewRows, AllProcessesStaysFirstEvenBeforeNamesThatSortEarlier) {
  Process(4100001, "1abc", 0)->SawDiskIo = true;
  Process(4100002, "!bang", 0)->SawDiskIo = true;
  const auto entries = ProcessListEntries(tables, vwFiles);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Text, "<all processes>");
}

TEST_F(ViewRows, StatusLineNamesThePathOfProcessesAndFiles) {
  TProcessInfo* p = Process(4100001, "editor", 0);
  p->ImagePath = "/usr/bin/editor";
  EXPECT_EQ(StatusLineText(p, vwProcesses), " /usr/bin/editor [4100001]");
  TFileInfo* f = tables.FindOrCreateFile(4100001, 7);
  f->SetName("/home/user/Notes.TXT");
  EXPECT_EQ(StatusLineText(f, vwFiles), " /home/user/notes.txt");
  const std::size_t d = tables.FindOrCreateDisk("sda");
  EXPECT_EQ(StatusLineText(tables.Disks[d].get(), vwDisks), " sda");
  EXPECT_EQ(StatusLineText(nullptr, vwDisks), "");
}

TEST_F(ViewRows, AProcessWithoutAReadablePathIsDescribedByItsName) {
  TProcessInfo* p = Process(4100001, "ghost", 0);
  EXPECT_EQ(StatusLineText(p, vwProcesses), " ghost [4100001]");
}

TEST(WebSearch, TheFileNameIsTakenAfterTheLastSeparator) {
  EXPECT_EQ(SearchName("/usr/bin/firefox-esr"), "firefox-esr");
  EXPECT_EQ(SearchName("C:\\Program Files\\app.exe"), "app.exe");
  EXPECT_EQ(SearchName("D:tool.exe"), "tool.exe");
  EXPECT_EQ(SearchName("plain"), "plain");
  EXPECT_EQ(SearchName("/ends/with/"), "");
}

TEST(WebSearch, TheNameIsPercentEncodedAsTheValueOfQ) {
  const QUrl url = WebSearchAddress(QStringLiteral("my app#1&x=%2+y"));
  ASSERT_TRUE(url.isValid());
  EXPECT_EQ(url.toEncoded(), "https://www.google.com/search?q=my%20app%231%26x%3D%252%2By");
  EXPECT_EQ(url.fragment(), "");
  EXPECT_EQ(url.query(QUrl::FullyDecoded), "q=my app#1&x=%2+y");
  const QUrl unicode = WebSearchAddress(QStringLiteral("caf\u00e9"));
  EXPECT_EQ(unicode.toEncoded(), "https://www.google.com/search?q=caf%C3%A9");
}

TEST(ColumnLayout, NameColumnTakesTwoUnitsOfTheWidthLessThirty) {
  EXPECT_EQ(ColumnWidths(587, 11), (std::vector<int>{92, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46}));
  EXPECT_EQ(ColumnWidths(587, 5), (std::vector<int>{184, 92, 92, 92, 92}));
  EXPECT_EQ(ColumnWidths(10, 5), (std::vector<int>(5, 0)));
  EXPECT_TRUE(ColumnWidths(500, 0).empty());
  EXPECT_EQ(ProcessListLeft(587, 200), 379);
  EXPECT_EQ(ProcessListLeft(300, 200), 150);
  // Never over the buttons before it; narrower, down to its least width, where room is short.
  EXPECT_EQ(ProcessListLeft(450, 200, 260), 260);
  EXPECT_EQ(ProcessListLeft(587, 200, 260), 379);
  EXPECT_EQ(ProcessListWidth(587, 379, 200), 200);
  EXPECT_EQ(ProcessListWidth(450, 260, 200), 182);
  EXPECT_EQ(ProcessListWidth(300, 260, 200), 100);
}

TEST(ViewTitles, CaptionsAndColumnTitlesWithErrorOutsideTheColumns) {
  EXPECT_EQ(ViewCaption(vwProcesses), "Ombrix - Processes");
  EXPECT_EQ(ViewCaption(vwSockets), "Ombrix - Sockets");
  EXPECT_EQ(ViewColumnCount(vwProcesses), 11);
  EXPECT_EQ(ViewColumnCount(vwAdapters), 5);
  EXPECT_EQ(ColumnTitle(vwProcesses, 10), "Threads");
  EXPECT_EQ(ColumnTitle(vwDisks, 5), "Queue Depth");
  EXPECT_EQ(ColumnTitle(vwDisks, 6), "<error>");
  EXPECT_EQ(ColumnTitle(vwFiles, -1), "<error>");
  EXPECT_EQ(ColumnTitle(7, 0), "<error>");
}

class Cells : public ViewRows {};

TEST_F(Cells, ProcessFiguresUseTheirFormatsAndPrivateBytesOfZeroStayEmpty) {
  TProcessInfo* p = Process(4100001, "worker", 12.5);
  p->WorkingSetAvg.Add(2048.0 * 1024);
  p->ThreadCount = 7;
  const TCell cpu = CellContent(*p, vwProcesses, 1, false, English);
  EXPECT_EQ(cpu.Text, "12.50%");
  EXPECT_TRUE(cpu.Number);
  EXPECT_EQ(CellContent(*p, vwProcesses, 3, false, English).Text, "2,048 K");
  EXPECT_TRUE(CellContent(*p, vwProcesses, 4, false, English).Empty);
  const TCell io = CellContent(*p, vwProcesses, 5, false, English);
  EXPECT_EQ(io.Text, "0.00");
  EXPECT_EQ(io.Value, 0);  // drawn dim
  EXPECT_EQ(CellContent(*p, vwProcesses, 10, false, English).Text, "7");
  const TCell name = CellContent(*p, vwProcesses, 0, false, English);
  EXPECT_EQ(name.Text, "worker");
  EXPECT_FALSE(name.Number);
  EXPECT_EQ(name.Value, 1);
  EXPECT_TRUE(CellContent(*p, vwProcesses, 11, false, English).Empty);
}

TEST_F(Cells, PseudoProcessShowsNameProcessorAndItsIoRateOnceCounted) {
  TProcessInfo* idle = Process(0, "_Idle", 80);
  EXPECT_EQ(CellContent(*idle, vwProcesses, 0, false, English).Text, "_Idle");
  EXPECT_EQ(CellContent(*idle, vwProcesses, 1, false, English).Text, "80.00%");
  for (int c = 2; c <= 10; ++c)
    EXPECT_TRUE(CellContent(*idle, vwProcesses, c, false, English).Empty);
  idle->IoRateAvg.Add(3);
  EXPECT_EQ(CellContent(*idle, vwProcesses, 5, false, English).Text, "3.00");
  EXPECT_TRUE(CellContent(*idle, vwProcesses, 6, false, English).Empty);
}

TEST_F(Cells, AdaptersShowBandwidthAndFilesTheirProcessAndIdleTime) {
  const std::size_t a = tables.FindOrCreateAdapter("eth0");
  tables.Adapters[a]->Bandwidth = 100000000;
  EXPECT_EQ(CellContent(*tables.Adapters[a], vwAdapters, 1, false, English).Text, "100 Mb");
  Process(4100001, "indexer", 0);
  TFileInfo* f = tables.FindOrCreateFile(4100001, 9);
  EXPECT_EQ(CellContent(*f, vwFiles, 1, false, English).Text, "indexer");
  const TCell idle = CellContent(*f, vwFiles, 5, false, English);
  EXPECT_TRUE(idle.Number);
  EXPECT_EQ(idle.Text.size(), 8);  // hh:mm:ss
  // An entity shown in a view it does not belong to draws nothing rather than misreading.
  EXPECT_TRUE(CellContent(*f, vwProcesses, 1, false, English).Empty);
}

}  // namespace
