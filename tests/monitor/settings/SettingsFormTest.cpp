#include "monitor/settings/SettingsForm.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "tests/support/TempDir.h"

namespace {

using ombrix::EditSettings;
using ombrix::Settings;
using ombrix::TSettings;
using ombrix::TSettingsForm;

class SettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = TSettings();
    ombrix::SettingsOwner = dir.File("Ombrix");
    form.ShowMessage = [this](const QString& t) { messages << t; };
    form.ShowError = [this](const QString& t) { errors << t; };
    form.show();
    QApplication::setActiveWindow(&form);
  }
  void TearDown() override { ombrix::SettingsOwner.clear(); }

  void SetText(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
  }
  // Types into a threshold cell's editor, one key at a time, as a user would.
  void TypeIntoCell(int row, int col, const QString& keys) {
    form.StringGrid1->setCurrentCell(row, col);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, keys);
  }

  ombrix::testing::TempDir dir;
  TSettingsForm form;
  QStringList messages, errors;
};

TEST_F(SettingsDialog, ShowsTheLiveSettingsInItsControlsAndGrid) {
  Settings.Interval = 3000;
  Settings.AlwaysOnTop = true;
  Settings.Smooth = false;
  form.FormShow();
  EXPECT_EQ(form.IntervalEdit->text(), "3000");
  EXPECT_TRUE(form.OnTopCheck->isChecked());
  EXPECT_FALSE(form.CountEdit->isEnabled());
  EXPECT_FALSE(form.LogCheck->isEnabled());
  EXPECT_EQ(form.StringGrid1->item(4, 0)->text(), "Memory Available MBytes");
  EXPECT_EQ(form.StringGrid1GetEditText(1, 4), QString::number(Settings.MemoryMBytes.Max));
  EXPECT_EQ(form.StringGrid1GetEditText(3, 1), "90");
  EXPECT_EQ(form.StringGrid1->columnWidth(0), 133);
  EXPECT_EQ(form.StringGrid1->columnWidth(3), 45);
  EXPECT_EQ(form.windowTitle(), "Ombrix Settings");
}

TEST_F(SettingsDialog, EmptyIntervalMeansTheDefaultAndOkSaves) {
  form.IntervalEdit->clear();
  form.OkButtonClick();
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_EQ(Settings.Interval, 2000);
  EXPECT_FALSE(Settings.SmoothChanged);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_NE(dir.Read("Ombrix.ini").find("CpuInuseRed=90"), std::string::npos);
}

TEST_F(SettingsDialog, OnlyTheIntervalMessageShowsWhenBothAreWrong) {
  SetText(form.IntervalEdit, "999");
  SetText(form.CountEdit, "70");
  form.OkButtonClick();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages[0], "Sample interval must be between 1000 and 60000 milliseconds");
  EXPECT_EQ(QApplication::focusWidget(), form.IntervalEdit);
  EXPECT_TRUE(form.InputError);
  EXPECT_EQ(Settings.Interval, 2000);  // nothing goes live
  EXPECT_TRUE(dir.Read("Ombrix.ini").empty());
}

TEST_F(SettingsDialog, CountIsCheckedOnlyWhileSmoothing) {
  SetText(form.CountEdit, "61");
  form.OkButtonClick();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages[0], "Interval count must be between 2 and 60");
  EXPECT_EQ(QApplication::focusWidget(), form.CountEdit);

  messages.clear();
  form.SmoothCheck->setChecked(false);
  form.CountEdit->clear();
  form.OkButtonClick();
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_EQ(Settings.SmoothCount, 0);  // stored as typed while smoothing is off
  EXPECT_TRUE(Settings.SmoothChanged);
  EXPECT_NE(dir.Read("Ombrix.ini").find("SmoothCount=0\n"), std::string::npos);
}

TEST_F(SettingsDialog, SmoothCheckEnablesAndGreysTheCount) {
  form.SmoothCheck->setChecked(false);
  EXPECT_FALSE(form.CountEdit->isEnabled());
  const QColor off = form.CountEdit->palette().color(QPalette::Base);
  form.SmoothCheck->setChecked(true);
  EXPECT_TRUE(form.CountEdit->isEnabled());
  EXPECT_NE(form.CountEdit->palette().color(QPalette::Base), off);
}

TEST_F(SettingsDialog, EditsTakeDigitsAndBackspaceOnly) {
  form.IntervalEdit->clear();
  QTest::keyClicks(form.IntervalEdit, "1a5-0 0.0");
  EXPECT_EQ(form.IntervalEdit->text(), "15000");
  QTest::keyClick(form.IntervalEdit, Qt::Key_Backspace);
  EXPECT_EQ(form.IntervalEdit->text(), "1500");
  QTest::keyClick(form.CountEdit, Qt::Key_X);
  EXPECT_EQ(form.CountEdit->text(), "5");
}

TEST_F(SettingsDialog, DeleteAndTheCursorKeysEditTheNumbers) {
  form.IntervalEdit->setText("2500");
  form.IntervalEdit->setFocus();
  form.IntervalEdit->setCursorPosition(0);
  // X11 sends Delete with the character U+007F; it is an editing key all the same.
  QTest::keyClick(form.IntervalEdit, Qt::Key_Delete, Qt::NoModifier);
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7F)));
  QApplication::sendEvent(form.IntervalEdit, &del);
  EXPECT_EQ(form.IntervalEdit->text(), "00");
  QTest::keyClick(form.IntervalEdit, Qt::Key_Right);
  QTest::keyClicks(form.IntervalEdit, "7");
  EXPECT_EQ(form.IntervalEdit->text(), "070");
  QTest::keyClick(form.IntervalEdit, Qt::Key_Home);
  QTest::keyClick(form.IntervalEdit, Qt::Key_Delete);
  EXPECT_EQ(form.IntervalEdit->text(), "70");
  QKeyEvent bell(QEvent::KeyPress, Qt::Key_G, Qt::ControlModifier, QString(QChar(7)));
  QApplication::sendEvent(form.IntervalEdit, &bell);  // other control characters stay out
  EXPECT_EQ(form.IntervalEdit->text(), "70");
}

TEST_F(SettingsDialog, TabAndTheCursorKeysMoveAmongTheLevelCellsOnly) {
  form.FormShow();
  form.CountEdit->setFocus();
  QTest::keyClick(form.CountEdit, Qt::Key_Tab);  // into the grid: its first level cell
  const auto cell = [this] {
    const QModelIndex c = form.StringGrid1->currentIndex();
    return std::pair{c.row(), c.column()};
  };
  EXPECT_EQ(cell(), std::pair(1, 1));
  EXPECT_NE(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr);  // an editor
  for (int i = 0; i < 3; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(cell(), std::pair(2, 1));  // past the row's end to the next row, not its name
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  EXPECT_EQ(cell(), std::pair(1, 3));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);  // the colour row has no editor
  EXPECT_EQ(cell(), std::pair(1, 3));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  EXPECT_EQ(cell(), std::pair(2, 3));
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), form.StringGrid1GetEditText(3, 2));
  form.StringGrid1->setCurrentCell(7, 3);  // the last: Tab leaves the grid
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form.OkButton));
}

TEST_F(SettingsDialog, GridStoresEachInRangePrefixOfWhatIsTyped) {
  TypeIntoCell(1, 3, "101");  // CPU red: 1, then 10 stored; 101 refused
  EXPECT_EQ(EditSettings.CpuInuse.Red, 10);
  EXPECT_EQ(EditSettings.CpuInuse.Green, 100);  // red below yellow: the scale now falls

  TypeIntoCell(4, 3, "30");  // memory red above yellow 25: the scale turns rising
  EXPECT_EQ(EditSettings.MemoryMBytes.Red, 30);
  EXPECT_EQ(EditSettings.MemoryMBytes.Green, 0);

  TypeIntoCell(6, 1, "7");  // the green column takes nothing
  EXPECT_EQ(EditSettings.DiskQueueDepth, Settings.DiskQueueDepth);

  form.StringGrid1SetEditText(2, 5, "85");  // disk busy yellow = red: green at the top
  EXPECT_EQ(EditSettings.DiskBusy.Green, 100);
  form.StringGrid1SetEditText(3, 5, "x");
  EXPECT_EQ(EditSettings.DiskBusy.Red, 85);
  EXPECT_EQ(Settings.CpuInuse.Red, 90);  // only OK makes the copy live
}

TEST_F(SettingsDialog, CancelLeavesEverythingAsItWas) {
  SetText(form.IntervalEdit, "5000");
  form.StringGrid1SetEditText(3, 1, "50");
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(Settings, TSettings());
  EXPECT_TRUE(dir.Read("Ombrix.ini").empty());
  form.FormShow();  // a new showing starts from the live settings again
  EXPECT_EQ(EditSettings.CpuInuse.Red, 90);
}

TEST_F(SettingsDialog, AFailedSaveShowsTheErrorAndStaysOpen) {
  ::mkdir(dir.File("Ombrix.ini").c_str(), 0755);  // a folder where the file should go
  SetText(form.IntervalEdit, "4000");
  form.OkButtonClick();
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors[0].toStdString(), "Unable to write to " + dir.File("Ombrix.ini"));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(Settings.Interval, 4000);  // already live; applied when the dialog returns OK
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Ombrix");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
