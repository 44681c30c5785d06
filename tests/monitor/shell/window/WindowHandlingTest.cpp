// The main window's tray handling offscreen: the indicator items' views and placement,
// the settings dialog applied (or not), help, the self-closing about window, hiding to the
// tray and the recorded size.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "monitor/model/Average.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/AboutForm.h"
#include "monitor/shell/CaptionAnimation.h"
#include "monitor/shell/MainForm.h"
#include "monitor/shell/images/ImageList.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ScopedSettings.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

class WindowHandlingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SettingsOwner = dir.File("Ombrix");
    form = std::make_unique<TMainForm>(nullptr);
    form->TrayHostPresent = [this] { return trayHost; };
    form->FormCreate();
    work = QGuiApplication::primaryScreen()->availableGeometry();
    form->ShowMessage = [this](const QString& text) { messages << text; };
    form->OpenDocument = [this](const QUrl& url) { opened << url; };
  }
  void TearDown() override {
    form.reset();
    SettingsOwner.clear();
  }
  int View() const { return form->Views->CurrentView; }
  int Sort() const { return form->Views->SortColumn; }
  int Bottom() const { return work.y() + work.height(); }
  // Runs the settings dialog as a user would fill it, then presses OK or Cancel.
  void AnswerSettings(std::function<void(TSettingsForm&)> fill, bool ok) {
    form->RunSettingsForm = [fill, ok](TSettingsForm& d) {
      d.FormShow();
      fill(d);
      if (ok)
        d.OkButtonClick();
      else
        d.reject();
      return d.result();
    };
  }

  ombrix::testing::ScopedSettings settings_{TSettings{}};
  testing::TempDir dir;
  bool trayHost = true;  // offscreen there is none; most cases are about the tray's window
  std::unique_ptr<TMainForm> form;
  QRect work;
  QStringList messages;
  QList<QUrl> opened;
};

TEST_F(WindowHandlingTest, IndicatorItemsChooseViewAndSort) {
  form->ProcessorMenuClick(2);  // "Memory usage"
  EXPECT_EQ(View(), 0);
  EXPECT_EQ(Sort(), 3);
  EXPECT_TRUE(form->Views->SortDescending);
  EXPECT_TRUE(form->ProcessButton->isChecked());
  EXPECT_EQ(form->windowTitle(), "Ombrix - Processes");

  form->ProcessorMenuClick(3);  // "Disk busy" from Processes: Disks
  EXPECT_EQ(View(), 1);
  form->Views->CurrentView = 2;  // the Files view
  form->Views->SortDescending = false;
  form->ProcessorMenuClick(3);  // keeps Files
  EXPECT_EQ(View(), 2);
  EXPECT_EQ(Sort(), 2);
  EXPECT_TRUE(form->Views->SortDescending);

  form->ProcessorMenuClick(4);  // "Network activity": Adapters, Sockets kept
  EXPECT_EQ(View(), 3);
  form->Views->CurrentView = 4;
  form->ProcessorMenuClick(4);
  EXPECT_EQ(View(), 4);
  form->ProcessorMenuClick(1);  // "Processor usage"
  EXPECT_EQ(View(), 0);
  EXPECT_EQ(Sort(), 1);
}

TEST_F(WindowHandlingTest, OpensAtTheTrayClickWithTheRecordedSizeThenStaysPut) {
  Settings.Width = 300;
  Settings.Height = 200;
  form->TrayClickPoint = QPoint(work.x() + 600, Bottom() - 5);
  form->ProcessorMenuClick(1);
  ASSERT_TRUE(form->isVisible());
  // The frame's right edge at the click, its bottom two pixels above the work area's.
  const QRect frame = form->frameGeometry();
  EXPECT_EQ(frame.x() + frame.width(), work.x() + 600);
  EXPECT_EQ(frame.y() + frame.height(), Bottom() - 2);
  EXPECT_EQ(form->size(), QSize(300, 200));
  EXPECT_EQ(form->RestoreRect, frame);

  // Already shown: the view changes, the window does not move.
  form->move(work.x() + 10, work.y() + 20);
  const QPoint where = form->pos();
  form->TrayClickPoint = QPoint(work.x() + 700, Bottom() - 5);
  form->ProcessorMenuClick(3);
  EXPECT_EQ(form->pos(), where);
  EXPECT_EQ(View(), 1);
}

TEST_F(WindowHandlingTest, PlacementHeldInsideTheWorkArea) {
  Settings.Height = work.height() + 100;
  form->TrayClickPoint = QPoint(work.x() + 20, Bottom() - 5);  // left of the window width
  form->ProcessorMenuClick(1);
  EXPECT_EQ(form->pos(), work.topLeft());
}

TEST_F(WindowHandlingTest, CloseAndMinimiseHideToTheTrayAndResetHints) {
  form->ProcessorMenuClick(1);
  form->ProcessorState->setToolTip("Processor: 12.00%");
  form->close();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->ProcessorState->toolTip(), "Processor");

  form->ProcessorMenuClick(1);
  ASSERT_TRUE(form->isVisible());
  form->setWindowState(Qt::WindowMinimized);
  QTest::qWait(50);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->isMinimized());  // it comes back in the normal state
  EXPECT_TRUE(form->Timer1->isActive());
}

TEST_F(WindowHandlingTest, CaptionAnimationOnlyWithBothEnds) {
  EXPECT_EQ(form->TrayRect(), QRect());  // offscreen there is no tray to fly to
  EXPECT_EQ(AnimateCaption(QRect(10, 10, 300, 200), QRect()), nullptr);
  EXPECT_EQ(AnimateCaption(QRect(), QRect(0, 780, 24, 24)), nullptr);
  QPointer<QWidget> frame = AnimateCaption(QRect(10, 10, 300, 200), QRect(0, 780, 24, 24));
  ASSERT_FALSE(frame.isNull());
  EXPECT_TRUE(frame->isVisible());
  EXPECT_TRUE(frame->testAttribute(Qt::WA_TransparentForMouseEvents) ||
              frame->windowFlags().testFlag(Qt::WindowTransparentForInput));
  frame->close();  // what the flight's end does
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(frame.isNull());
}

TEST_F(WindowHandlingTest, OnlyANormalSizeIsRecorded) {
  form->ProcessorMenuClick(1);
  form->resize(500, 350);
  QApplication::processEvents();
  EXPECT_EQ(Settings.Width, 500);
  EXPECT_EQ(Settings.Height, 350);
  form->showMaximized();
  QApplication::processEvents();
  ASSERT_TRUE(form->isMaximized());
  EXPECT_NE(form->width(), 500);
  EXPECT_EQ(Settings.Width, 500);
  EXPECT_EQ(Settings.Height, 350);
  form->showNormal();
  form->resize(450, 320);
  QApplication::processEvents();
  EXPECT_EQ(Settings.Width, 450);
}

TEST_F(WindowHandlingTest, SettingsOkAppliesIntervalOnTopAndSmoothing) {
  ASSERT_EQ(form->Core().IntervalAverage()->WindowSize(), 5);
  form->TrayClickPoint = QPoint(work.x() + 600, Bottom() - 5);
  QPoint dialogAt;
  form->RunSettingsForm = [&](TSettingsForm& d) {
    dialogAt = d.pos();
    d.FormShow();
    d.IntervalEdit->setText("1000");
    d.CountEdit->setText("7");
    d.OnTopCheck->setChecked(true);
    d.OkButtonClick();
    return d.result();
  };
  form->SettingsMenuClick();
  EXPECT_EQ(dialogAt, QPoint(work.x() + 600 - 290, Bottom() - 415 - 2));
  EXPECT_EQ(form->Timer1->interval(), 1000);
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(Settings.SmoothChanged);
  EXPECT_EQ(form->Core().IntervalAverage()->WindowSize(), 7);
  EXPECT_TRUE(form->SettingsForm.isNull());  // freed
  EXPECT_FALSE(form->isVisible());           // on top or not, it stays hidden

  // Off again, while shown: the window stays where it is and shown.
  form->ProcessorMenuClick(1);
  const QRect bounds = form->geometry();
  AnswerSettings([](TSettingsForm& d) { d.OnTopCheck->setChecked(false); }, true);
  form->SettingsMenuClick();
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->geometry(), bounds);
  EXPECT_EQ(form->Core().IntervalAverage()->WindowSize(), 7);  // smoothing unchanged
}

TEST_F(WindowHandlingTest, SettingsCancelChangesNothing) {
  const TSettings before = Settings;
  AnswerSettings(
      [](TSettingsForm& d) {
        d.IntervalEdit->setText("1000");
        d.OnTopCheck->setChecked(true);
      },
      false);
  form->SettingsMenuClick();
  EXPECT_EQ(form->Timer1->interval(), 2000);
  EXPECT_EQ(Settings.Interval, before.Interval);
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form->SettingsForm.isNull());
}

TEST_F(WindowHandlingTest, WhileTheDialogIsOpenMenuItemsOnlyRaiseIt) {
  int dialogs = 0;
  form->RunSettingsForm = [&](TSettingsForm& d) {
    ++dialogs;
    form->SettingsMenuClick();    // the same dialog, not a second
    form->ProcessorMenuClick(3);  // no view change, no window
    EXPECT_EQ(form->SettingsForm.data(), &d);
    return static_cast<int>(QDialog::Rejected);
  };
  form->SettingsMenuClick();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(View(), 0);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(WindowHandlingTest, HelpOpensTheFileBesideTheProgramOrSaysItIsMissing) {
  form->HelpFile = dir.File("Ombrix.hlp");
  form->HelpMenuClick();
  EXPECT_TRUE(opened.isEmpty());
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains(QString::fromStdString(form->HelpFile)))
      << messages[0].toStdString();

  dir.Write("Ombrix.hlp", "help");
  form->HelpMenuClick();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(form->HelpFile)));
}

TEST_F(WindowHandlingTest, F1OverTheTrayMenuClosesItAndAsksForHelp) {
  form->HelpFile = dir.File("missing.hlp");
  form->TrayPopup->popup(QPoint(100, 100));
  ASSERT_TRUE(form->TrayPopup->isVisible());
  QTest::keyClick(form->TrayPopup, Qt::Key_Down);
  QTest::keyClick(form->TrayPopup, Qt::Key_F1);
  EXPECT_FALSE(form->TrayPopup->isVisible());
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains("missing.hlp"));
}

TEST_F(WindowHandlingTest, AboutWindowIsSingleAndClosesItselfAfterFourSeconds) {
  delete AboutForm;  // the one start-up showed
  ASSERT_EQ(AboutForm.data(), nullptr);
  testing::FakeClock clock(0xFFFFF000u);  // across the tick count's wrap
  form->AboutMenuClick();
  TAboutForm* about = AboutForm.data();
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(about->isVisible());
  form->AboutMenuClick();
  EXPECT_EQ(AboutForm.data(), about);

  clock.Advance(3999);
  about->Timer1Timer();
  EXPECT_EQ(AboutForm.data(), about);
  EXPECT_TRUE(about->isVisible());
  clock.Advance(1);
  about->Timer1Timer();
  EXPECT_EQ(AboutForm.data(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  form->AboutMenuClick();  // a new one
  EXPECT_NE(AboutForm.data(), nullptr);
}

TEST_F(WindowHandlingTest, LeftAndRightClickOpenTheMenuAtTheCursor) {
  for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context}) {
    form->TrayIconActivated(reason);
    EXPECT_TRUE(form->TrayPopup->isVisible());
    EXPECT_EQ(form->TrayClickPoint, QCursor::pos());
    form->TrayPopup->hide();
  }
  form->TrayIconActivated(QSystemTrayIcon::MiddleClick);
  EXPECT_FALSE(form->TrayPopup->isVisible());
}

TEST_F(WindowHandlingTest, WithoutATrayTheWindowIsAnOrdinaryOneUntilATrayAppears) {
  form.reset();
  trayHost = false;
  form = std::make_unique<TMainForm>(nullptr);
  form->TrayHostPresent = [this] { return trayHost; };
  form->FormCreate();
  ASSERT_TRUE(form->isVisible());
  EXPECT_TRUE(form->Trayless);
  EXPECT_EQ(form->windowType(), Qt::Window);  // a taskbar entry to come back by
  EXPECT_EQ(form->windowTitle(), "Ombrix - Processes");
  EXPECT_EQ(form->StatusText->text(), NoTrayText);
  form->setWindowState(Qt::WindowMinimized);
  QTest::qWait(50);
  EXPECT_TRUE(form->isVisible());  // minimised, not hidden away
  form->setWindowState(Qt::WindowNoState);

  // A tray host appears: the icon goes into it and the window hides there again.
  trayHost = true;
  form->CheckTrayHost();
  EXPECT_FALSE(form->Trayless);
  EXPECT_EQ(form->windowType(), Qt::Tool);
  EXPECT_TRUE(form->isVisible());  // it stays where it was until the user closes it
  EXPECT_EQ(form->StatusText->text(), TrayAgainText);
  form->close();
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->CanExit);
}

TEST_F(WindowHandlingTest, WithoutATrayClosingTheWindowEndsTheProgram) {
  form.reset();
  trayHost = false;
  form = std::make_unique<TMainForm>(nullptr);
  form->TrayHostPresent = [this] { return trayHost; };
  form->FormCreate();
  ASSERT_TRUE(form->isVisible());
  form->close();
  EXPECT_TRUE(form->CanExit);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->Timer1->isActive());
}

TEST_F(WindowHandlingTest, TheTrayShowsTheProgramsIconUntilTheFirstTick) {
  const auto image = [](const QIcon& icon) { return icon.pixmap(QSize(16, 16), 1.0).toImage(); };
  ASSERT_NE(form->TrayIcon, nullptr);
  EXPECT_EQ(image(form->TrayIcon->icon()), image(ProgramIcon()));
  form->Timer1Timer();
  const QImage after = image(form->TrayIcon->icon());
  EXPECT_NE(after, image(ProgramIcon()));
  EXPECT_TRUE(after == image(ImageListIcon(imGreen)) || after == image(ImageListIcon(imYellow)) ||
              after == image(ImageListIcon(imRed)));
}

TEST_F(WindowHandlingTest, TheDialogIsTheWindowsChildAndModalToItAlone) {
  form->RunSettingsForm = [&](TSettingsForm& d) {
    EXPECT_EQ(d.parentWidget(), form.get());
    EXPECT_EQ(d.windowModality(), Qt::WindowModal);
    EXPECT_EQ(form->TrayPopup->parentWidget(), nullptr);  // nothing the dialog blocks
    return static_cast<int>(QDialog::Rejected);
  };
  form->SettingsMenuClick();
}

// The dialog runs as it does for the user; the tray menu, chosen by keyboard while it is
// open, still answers: "Settings..." brings the same dialog forward, "Exit" ends it all.
TEST_F(WindowHandlingTest, TheTrayMenuAnswersWhileTheDialogRuns) {
  form->RunSettingsForm = [](TSettingsForm& d) { return d.exec(); };
  QPointer<TSettingsForm> first;
  int settingsItemRaised = 0;
  QTimer::singleShot(0, form.get(), [&] {
    first = form->SettingsForm;
    ASSERT_FALSE(first.isNull());
    const auto choose = [&](int ups) {
      form->TrayIconActivated(QSystemTrayIcon::Trigger);
      QWindow* menu = form->TrayPopup->windowHandle();
      ASSERT_NE(menu, nullptr);
      for (int i = 0; i < ups; ++i) QTest::keyClick(menu, Qt::Key_Up);
      QTest::keyClick(menu, Qt::Key_Return);
    };
    choose(2);  // "Settings..."
    if (form->SettingsForm == first) ++settingsItemRaised;
    choose(1);  // "Exit"
  });
  // Should the menu not answer, the dialog is closed after a while so that the case fails
  // rather than hangs.
  QTimer::singleShot(10000, form.get(), [&] {
    if (first) first->reject();
  });
  form->SettingsMenuClick();
  EXPECT_EQ(settingsItemRaised, 1);
  EXPECT_TRUE(form->CanExit);
  EXPECT_TRUE(form->SettingsForm.isNull());
}

}  // namespace
}  // namespace ombrix

// One application for all the cases, destroyed at the end so that it leaves nothing behind.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");  // no desktop needed, the same screen each run
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
