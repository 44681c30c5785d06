#include "monitor/shell/views/Views.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/views/ViewColumns.h"

namespace {

using namespace ombrix;

class Views : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = TSettings();
    window.resize(587, 415);
    auto* layout = new QVBoxLayout(&window);
    panel2 = new QWidget(&window);
    layout->addWidget(panel2);
    views = new TViews(&tables, &window, panel2);
    layout->addWidget(views->DrawGrid1);
    views->SetCaption = [this](const QString& t) { caption = t; };
    views->SetStatusText = [this](const QString& t) { status = t; };
    views->OpenUrl = [this](const QUrl& u) { opened << u; };
    window.show();
    views->LayoutColumns(window.width());
  }

  // Process ids far above any live process, so no image path is read from the system.
  TProcessInfo* Process(std::uint32_t id, const std::string& name, double cpu) {
    TProcessInfo* p = tables.FindOrCreateProcess(id, name);
    p->ProcessorAvg.Add(cpu);
    return p;
  }
  TFileInfo* File(std::uint32_t pid, std::uint32_t object, const std::string& path) {
    TFileInfo* f = tables.FindOrCreateFile(pid, object);
    f->SetName(path);
    f->Touch(true);
    return f;
  }
  // What a user reads in the first column, top to bottom.
  QStringList NameColumn() {
    QStringList names;
    TGridModel* model = views->DrawGrid1->Model();
    for (int r = 0; r < model->rowCount(); ++r) names << model->index(r, 0).data().toString();
    return names;
  }
  void ClickHeader(int column, Qt::MouseButton button = Qt::LeftButton) {
    QHeaderView* header = views->DrawGrid1->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), button, {}, at);
  }
  QPoint CellCentre(int row, int column) {
    return views->DrawGrid1->visualRect(views->DrawGrid1->Model()->index(row - 1, column)).center();
  }
  // Ends every process but those given, as a tick's sweep does.
  void EndAllBut(std::initializer_list<TProcessInfo*> survivors) {
    tables.ResetActivity();
    for (TProcessInfo* p : survivors) p->Touch(true);
    tables.SweepProcesses();
  }

  TEntityTables tables;
  QWidget window;
  QWidget* panel2;
  TViews* views;
  QString caption, status;
  QList<QUrl> opened;
};

TEST_F(Views, ProcessorUsageSortsLargestFirstAndHeaderClicksFlipOrChooseColumns) {
  Process(4100001, "beta", 10);
  Process(4100002, "alpha", 30);
  Process(4100003, "gamma", 20);
  views->SortColumn = 1;
  views->SortDescending = true;
  views->ProcessButtonClick(vwProcesses);
  EXPECT_EQ(caption, "Ombrix - Processes");
  EXPECT_EQ(NameColumn(), (QStringList{"alpha", "gamma", "beta"}));
  ClickHeader(1);
  EXPECT_FALSE(views->SortDescending);
  EXPECT_EQ(NameColumn(), (QStringList{"beta", "gamma", "alpha"}));
  ClickHeader(0);
  EXPECT_EQ(views->SortColumn, 0);
  EXPECT_EQ(NameColumn(), (QStringList{"gamma", "beta", "alpha"}));
  ClickHeader(0, Qt::RightButton);  // any button sorts
  EXPECT_EQ(NameColumn(), (QStringList{"alpha", "beta", "gamma"}));
}

TEST(NumberCells, AFigureTooWideForItsCellIsMarkedCutNotShortened) {
  const QFontMetrics metrics(QFont("DejaVu Sans", 8));
  const QString figure = "12,911,844.06";
  const int whole = metrics.horizontalAdvance(figure);
  EXPECT_EQ(FitNumberText(figure, metrics, whole), figure);
  const QString cut = FitNumberText(figure, metrics, whole / 2);
  EXPECT_TRUE(cut.startsWith(QChar(0x2026))) << cut.toStdString();
  EXPECT_TRUE(figure.endsWith(cut.mid(1)));
  EXPECT_LE(metrics.horizontalAdvance(cut), whole / 2);
}

TEST_F(Views, HeaderShowsTheSortColumnInItsColours) {
  views->SortColumn = 1;
  views->SortDescending = true;
  views->Refresh(false);
  QAbstractItemModel* model = views->DrawGrid1->Model();
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Processor");
  EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::ForegroundRole).value<QColor>(),
            QColor(0, 0, 255));
  EXPECT_FALSE(model->headerData(2, Qt::Horizontal, Qt::ForegroundRole).isValid());
  views->DrawGrid1MouseUp(1);
  EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::ForegroundRole).value<QColor>(),
            QColor(128, 0, 0));
}

TEST_F(Views, ATickKeepsTheSelectedEntitySelectedWhereverItMoves) {
  Process(4100001, "a", 10);
  TProcessInfo* b = Process(4100002, "b", 20);
  Process(4100003, "c", 30);
  views->SortColumn = 1;
  views->SortDescending = true;
  views->Refresh(false);
  views->DrawGrid1->SelectCell(2, 1);
  ASSERT_EQ(tables.SelectedEntity, b);
  EXPECT_EQ(status, QStringLiteral(" b [4100002]"));
  b->ProcessorAvg.Reset();
  b->ProcessorAvg.Add(90);
  views->Refresh(false);
  EXPECT_EQ(tables.SelectedEntity, b);
  EXPECT_EQ(views->DrawGrid1->CurrentRow(), 1);
  EXPECT_EQ(views->DrawGrid1->CurrentColumn(), 1);
}

TEST_F(Views, AHeaderClickDropsTheSelectionAndScrollsToTheTop) {
  for (std::uint32_t i = 0; i < 60; ++i) Process(4100001 + i, "p" + std::to_string(i), i);
  views->Refresh(false);
  views->DrawGrid1->SelectCell(50, 0);
  ASSERT_NE(tables.SelectedEntity, nullptr);
  ASSERT_GT(views->DrawGrid1->verticalScrollBar()->value(), 0);
  ClickHeader(1);
  EXPECT_EQ(tables.SelectedEntity, nullptr);
  EXPECT_EQ(views->DrawGrid1->CurrentRow(), 0);
  EXPECT_EQ(views->DrawGrid1->verticalScrollBar()->value(), 0);
  EXPECT_EQ(status, "");
}

TEST_F(Views, ASelectedEntityThatLeavesLeavesNoSelection) {
  TProcessInfo* a = Process(4100001, "a", 10);
  TProcessInfo* b = Process(4100002, "b", 20);
  views->Refresh(false);
  views->DrawGrid1->SelectCell(2, 0);  // ascending by name: a, b
  ASSERT_EQ(tables.SelectedEntity, b);
  EndAllBut({a});
  views->Refresh(false);
  EXPECT_EQ(tables.SelectedEntity, nullptr);
  EXPECT_EQ(views->DrawGrid1->CurrentRow(), 0);
  EXPECT_EQ(NameColumn(), QStringList{"a"});
}

TEST_F(Views, AnEmptyViewShowsTheHeaderAndOneEmptyRow) {
  views->ProcessButtonClick(vwAdapters);
  EXPECT_EQ(views->DrawGrid1->Model()->GridRowCount(), 2);
  EXPECT_EQ(views->DrawGrid1->Model()->columnCount(), 5);
  EXPECT_EQ(NameColumn(), QStringList{""});
  EXPECT_EQ(tables.SelectedEntity, nullptr);
  EXPECT_EQ(views->DrawGrid1->CurrentRow(), 0);
}

TEST_F(Views, OnlyFilesAndSocketsOfferIntervalOverallAndTheProcessList) {
  views->ProcessButtonClick(vwFiles);
  EXPECT_TRUE(views->OverallButton->isVisibleTo(&window));
  EXPECT_TRUE(views->ProcessList->isVisibleTo(&window));
  EXPECT_TRUE(views->FileButton->isChecked());
  views->OverallButton->click();
  EXPECT_TRUE(views->Overall());
  views->ProcessButtonClick(vwDisks);
  EXPECT_FALSE(views->IntervalButton->isVisibleTo(&window));
  EXPECT_FALSE(views->OverallButton->isVisibleTo(&window));
  EXPECT_FALSE(views->ProcessList->isVisibleTo(&window));
  EXPECT_TRUE(views->IntervalButton->isChecked());
  EXPECT_TRUE(views->DiskButton->isChecked());
  EXPECT_EQ(caption, "Ombrix - Disks");
  EXPECT_EQ(views->DrawGrid1->Model()->headerData(6, Qt::Horizontal).toString(), "<error>");
}

TEST_F(Views, ProcessFilterShowsOneProcessAndReturnsToAllWhenItEnds) {
  TProcessInfo* editor = Process(4100001, "editor", 0);
  TProcessInfo* shell = Process(4100002, "shell", 0);
  editor->SawDiskIo = shell->SawDiskIo = true;
  File(4100001, 1, "/tmp/a.txt");
  File(4100001, 2, "/tmp/b.txt");
  File(4100002, 3, "/tmp/c.txt");
  views->ProcessButtonClick(vwFiles);
  ASSERT_EQ(views->ProcessList->count(), 3);
  EXPECT_EQ(views->ProcessList->itemText(0), "<all processes>");
  EXPECT_EQ(views->ProcessList->itemText(1), "editor [4100001]");
  EXPECT_EQ(NameColumn().size(), 3);

  views->ProcessList->setCurrentIndex(1);
  views->ProcessListChange(1);
  EXPECT_EQ(tables.FilterProcess, editor);
  EXPECT_EQ(NameColumn(), (QStringList{"a.txt", "b.txt"}));

  EndAllBut({shell});
  EXPECT_EQ(tables.FilterProcess, nullptr);
  views->Refresh(false);
  EXPECT_EQ(views->ProcessList->count(), 2);
  EXPECT_EQ(views->ProcessList->currentIndex(), 0);
  EXPECT_EQ(views->ProcessList->currentText(), "<all processes>");
  EXPECT_EQ(NameColumn(), QStringList{"c.txt"});
}

TEST_F(Views, AFilterEntryChosenAfterItsProcessEndedShowsAllProcesses) {
  TProcessInfo* editor = Process(4100001, "editor", 0);
  TProcessInfo* shell = Process(4100002, "shell", 0);
  editor->SawNetwork = shell->SawNetwork = true;
  views->ProcessButtonClick(vwSockets);
  ASSERT_EQ(views->ProcessList->count(), 3);
  EndAllBut({shell});  // the list still offers editor until the next refresh
  views->ProcessListChange(1);
  EXPECT_EQ(tables.FilterProcess, nullptr);
  EXPECT_EQ(views->ProcessList->currentIndex(), 0);
}

TEST_F(Views, AFilterSurvivesAViewSwitchWhileItsProcessLives) {
  TProcessInfo* editor = Process(4100001, "editor", 0);
  editor->SawDiskIo = editor->SawNetwork = true;
  views->ProcessButtonClick(vwFiles);
  views->ProcessListChange(1);
  ASSERT_EQ(tables.FilterProcess, editor);
  views->ProcessButtonClick(vwSockets);
  EXPECT_EQ(tables.FilterProcess, editor);
  EXPECT_EQ(views->ProcessList->currentText(), "editor [4100001]");
}

TEST_F(Views, ContextMenuOpensOnlyOverAProcessName) {
  Process(4100001, "worker", 5);
  views->Refresh(false);
  EXPECT_FALSE(views->DrawGrid1ContextPopup(CellCentre(1, 1)));
  EXPECT_TRUE(views->DrawGrid1ContextPopup(CellCentre(1, 0)));
  EXPECT_EQ(views->DrawGrid1->CurrentRow(), 1);
  EXPECT_EQ(tables.SelectedEntity, tables.FindProcess(4100001));
  EXPECT_EQ(status, " worker [4100001]");
  views->ProcessButtonClick(vwDisks);
  tables.FindOrCreateDisk("sda");
  tables.Disks[0]->Touch(true);
  views->Refresh(false);
  EXPECT_FALSE(views->DrawGrid1ContextPopup(CellCentre(1, 0)));
}

TEST_F(Views, ARightClickOutsideANameNeitherSelectsNorOpensAMenu) {
  Process(4100001, "a", 1);
  Process(4100002, "b", 2);
  views->Refresh(false);
  views->DrawGrid1->SelectCell(1, 0);
  TInfo* selected = tables.SelectedEntity;
  QTest::mouseClick(views->DrawGrid1->viewport(), Qt::RightButton, {}, CellCentre(2, 1));
  EXPECT_EQ(tables.SelectedEntity, selected);
  EXPECT_EQ(views->DrawGrid1->CurrentRow(), 1);
  EXPECT_FALSE(views->DrawGrid1ContextPopup(CellCentre(2, 1)));
  EXPECT_EQ(views->DrawGrid1->CurrentRow(), 1);
}

TEST_F(Views, DoubleClickOnANameSearchesTheWebForTheEncodedFileName) {
  TProcessInfo* p = Process(4100001, "run", 5);
  p->ImagePath = "/opt/My Tools/run me#1&x";
  views->Refresh(false);
  views->DrawGrid1->SelectCell(1, 1);
  views->DrawGrid1DblClick();
  EXPECT_TRUE(opened.isEmpty());
  QTest::mouseClick(views->DrawGrid1->viewport(), Qt::LeftButton, {}, CellCentre(1, 0));
  QTest::mouseDClick(views->DrawGrid1->viewport(), Qt::LeftButton, {}, CellCentre(1, 0));
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened[0].toEncoded(), "https://www.google.com/search?q=run%20me%231%26x");
  views->GoogleMenu->trigger();
  EXPECT_EQ(opened.size(), 2);
}

TEST_F(Views, WebSearchDoesNothingWithoutARow) {
  views->Refresh(false);
  views->GoogleMenuClick();
  EXPECT_TRUE(opened.isEmpty());
}

TEST_F(Views, ColumnsShareTheWindowWidthWithTheNameColumnDouble) {
  views->LayoutColumns(587);
  QHeaderView* header = views->DrawGrid1->horizontalHeader();
  EXPECT_EQ(header->sectionSize(0), 92);
  EXPECT_EQ(header->sectionSize(10), 46);
  views->ProcessButtonClick(vwFiles);
  EXPECT_EQ(header->sectionSize(0), 158);  // (587 - 30) div 7, twice
  EXPECT_EQ(header->sectionSize(5), 79);
  EXPECT_EQ(views->ProcessList->x(), 587 - views->ProcessList->width() - 8);
}

TEST_F(Views, TheFilterListNeverCoversTheButtonsBeforeIt) {
  views->ProcessButtonClick(vwFiles);
  for (int width : {587, 450, 300}) {
    window.resize(width, 415);
    QApplication::processEvents();
    views->LayoutColumns(width);
    EXPECT_GT(views->ProcessList->x(), views->OverallButton->geometry().right()) << width;
    EXPECT_GE(views->ProcessList->width(), 100) << width;
  }
}

TEST(GridTitles, LongTitlesBreakAtBlanksAndAfterSlashes) {
  const QFontMetrics metrics(QFont("DejaVu Sans", 8));
  EXPECT_EQ(TitlePieces("IO Bytes/Sec"), QStringList({"IO", "Bytes/", "Sec"}));
  const QString title = "RegAccess/Sec";
  EXPECT_EQ(WrapTitle(title, metrics, metrics.horizontalAdvance(title)), QStringList{title});
  EXPECT_EQ(WrapTitle(title, metrics, metrics.horizontalAdvance("RegAccess/")),
            QStringList({"RegAccess/", "Sec"}));
  EXPECT_EQ(WrapTitle("IO Bytes/Sec", metrics, metrics.horizontalAdvance("IO Bytes/")),
            QStringList({"IO Bytes/", "Sec"}));
  // A piece wider than the room stays whole: it is cut where it is drawn, never split.
  EXPECT_EQ(WrapTitle("Process Name", metrics, 5), QStringList({"Process", "Name"}));
}

TEST_F(Views, CellsAreFilledWithAlternatingAndSelectedBackgrounds) {
  Process(4100001, "a", 0);
  views->Refresh(false);
  QImage image(40, 20, QImage::Format_ARGB32);
  QPainter painter(&image);
  const QPalette& palette = views->DrawGrid1->palette();
  views->DrawGrid1DrawCell(painter, 1, 2, QRect(0, 0, 40, 20), false);
  EXPECT_EQ(image.pixelColor(1, 1), palette.color(QPalette::ToolTipBase));
  views->DrawGrid1DrawCell(painter, 1, 1, QRect(0, 0, 40, 20), true);
  EXPECT_EQ(image.pixelColor(1, 1), palette.color(QPalette::Highlight));
  views->DrawGrid1DrawCell(painter, 1, 1, QRect(0, 0, 40, 20), false);
  EXPECT_EQ(image.pixelColor(1, 1), palette.color(QPalette::Base));
}

TEST(ViewsWithoutModel, ShowNothingAndIgnoreEveryHandlerUntilTheTablesExist) {
  QWidget window, panel2;
  TViews views(nullptr, &window, &panel2);
  views.SetStatusText = [](const QString&) {};
  views.ProcessButtonClick(vwFiles);
  views.Refresh(false);
  views.ProcessListChange(0);
  views.DrawGrid1MouseUp(1);
  views.GoogleMenuClick();
  EXPECT_EQ(views.CurrentView, vwFiles);
  EXPECT_EQ(views.DrawGrid1->Model()->columnCount(), 6);
  EXPECT_TRUE(views.DrawGrid1->Model()->index(0, 0).data().toString().isEmpty());
  TEntityTables tables;
  tables.FindOrCreateProcess(4100001, "late")->SawDiskIo = true;
  views.SetTables(&tables);
  views.ProcessButtonClick(vwFiles);
  EXPECT_EQ(views.ProcessList->count(), 2);
}

TEST_F(Views, SwitchingViewClearsTheStatusLineButATickLeavesANoticeAlone) {
  Process(4100001, "a", 0);
  status = "Single sample trace has been enabled";
  views->Refresh(false);
  EXPECT_EQ(status, "Single sample trace has been enabled");
  views->ProcessButtonClick(vwDisks);
  EXPECT_EQ(status, "");
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
