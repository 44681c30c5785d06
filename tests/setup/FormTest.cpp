#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "setup/MainForm.h"
#include "tests/support/TempDir.h"

namespace {

using ombrix::setup::TForm1;
using ombrix::testing::TempDir;

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "setup_form_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

const char* kScript =
    "[Settings]\nName=Demo App\nCompany=Acme\nDirectory=/opt/#COMPANY/#APP_NAME\n"
    "Exename=demo\nShortCuts=demo Demo\nLicenseFile=license.txt\n";

// Answers the next message box; the text it asked lands in *asked.
void Answer(QMessageBox::StandardButton button, QString* asked = nullptr) {
  QTimer::singleShot(0, [button, asked] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      if (asked != nullptr) *asked = box->text();
      box->button(button)->click();
    }
  });
}

// Counts pixels that are clearly of one colour (the text is antialiased).
int Pixels(const QImage& image, QColor want) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      n += std::abs(c.red() - want.red()) < 60 && std::abs(c.green() - want.green()) < 60 &&
           std::abs(c.blue() - want.blue()) < 60;
    }
  return n;
}

QStringList Items(QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

class Form : public ::testing::Test {
 protected:
  std::unique_ptr<TForm1> Open(const std::string& program, const std::string& script = kScript) {
    if (!script.empty()) dir.Write("setup.inf", script);
    auto form = std::make_unique<TForm1>(dir.File(program));
    form->show();
    return form;
  }
  TempDir dir;
};

TEST_F(Form, InstallModeExpandsTextsAndWalksThePages) {
  auto form = Open("setup2.exe");
  EXPECT_FALSE(form->UninstallMode());
  EXPECT_EQ(form->windowTitle(), "Demo App Setup");
  EXPECT_EQ(form->WelcomeTitle->text(), "Demo App Setup");
  EXPECT_EQ(form->WelcomeText->text(), "This program will install Demo App on your computer.");
  EXPECT_EQ(form->DirectoryText->text(), "Install Demo App to:");
  EXPECT_EQ(form->InstallDirectory->text(), "/opt/Acme/Demo App");
  EXPECT_EQ(form->AddShortCutsOption->text(), "Add Demo App to the Start Menu.");
  EXPECT_TRUE(form->LicenseButton->isHidden());  // license.txt is not in the folder
  EXPECT_FALSE(form->BackButton->isEnabled());

  form->NextButton->click();
  EXPECT_EQ(form->CurrentPage(), 1);
  EXPECT_TRUE(form->BackButton->isEnabled());
  form->NextButton->click();
  EXPECT_EQ(form->CurrentPage(), 2);
  form->NextButton->click();
  EXPECT_EQ(form->CurrentPage(), 3);
  EXPECT_EQ(form->NextButton->text(), "Install");
  EXPECT_EQ(Items(form->ConfirmDetails),
            (QStringList{"Installation Directory:", "  /opt/Acme/Demo App",
                         "Start Menu Shortcuts:", "  Will be created for the current user only"}));
  form->BackButton->click();
  EXPECT_EQ(form->CurrentPage(), 2);
  EXPECT_EQ(form->NextButton->text(), "Next");
}

TEST_F(Form, LicenceButtonShowsWhenTheFileIsThere) {
  dir.Write("license.txt", "terms");
  auto form = Open("setup");
  EXPECT_FALSE(form->LicenseButton->isHidden());
}

TEST_F(Form, CommonOptionFollowsTheShortcutOption) {
  auto form = Open("setup");
  form->CommonOption->setChecked(true);
  form->AddShortCutsOption->click();  // off
  EXPECT_FALSE(form->CommonOption->isEnabled());
  EXPECT_FALSE(form->CommonOption->isChecked());
  form->AddShortCutsOption->click();  // on again
  EXPECT_TRUE(form->CommonOption->isEnabled());
  EXPECT_FALSE(form->CommonOption->isChecked());
}

TEST_F(Form, ConfirmListWithEverythingOnAndALongPath) {
  auto form = Open("setup");
  form->AddToStartupOption->setChecked(true);
  form->StartNowOption->setChecked(true);
  form->CommonOption->setChecked(true);
  form->InstallDirectory->setText(
      "/opt/A Very Long Company Name Incorporated/An Application With A Long Name/Version 1");
  form->ShowPage(3);
  const QStringList items = Items(form->ConfirmDetails);
  ASSERT_GT(items.size(), 6);  // the path wraps into several lines
  EXPECT_EQ(items.last(), "The application will be started when the install completes");
  EXPECT_TRUE(items[1].startsWith("  /opt/A Very"));
  form->InstallDirectory->setText("/opt/" + QString(80, 'x'));
  form->ShowPage(3);
  EXPECT_EQ(form->ConfirmDetails->count(), 6);  // no spaces: one line, however long
}

TEST_F(Form, ConfirmedCancelShowsTheCanceledPage) {
  auto form = Open("setup");
  Answer(QMessageBox::No);
  form->CancelButton->click();
  EXPECT_EQ(form->CurrentPage(), 0);
  Answer(QMessageBox::Yes);
  form->CancelButton->click();
  EXPECT_EQ(form->CurrentPage(), 6);
  EXPECT_EQ(form->ErrorTitle->text(), "Installation Canceled");
  EXPECT_TRUE(form->ErrorText->text().startsWith("The installation was canceled."));
  EXPECT_EQ(form->NextButton->text(), "Exit");
  EXPECT_FALSE(form->CancelButton->isEnabled());
}

TEST_F(Form, EscapeOnWelcomeAsksTheCancelQuestion) {
  auto form = Open("setup");
  QString asked;
  Answer(QMessageBox::No, &asked);
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_EQ(asked, "Are you sure you want to cancel the installation of Demo App?");
  EXPECT_EQ(form->CurrentPage(), 0);
  EXPECT_TRUE(form->isVisible());
}

TEST_F(Form, ListLinesAreDrawnInTheirKindsColour) {
  auto form = Open("setup");
  form->ShowPage(3);  // normal and blue note lines
  QImage image = form->ConfirmDetails->viewport()->grab().toImage();
  EXPECT_GT(Pixels(image, QColor(0, 0, 255)), 20);
  EXPECT_EQ(Pixels(image, QColor(255, 0, 0)), 0);
  EXPECT_GT(Pixels(image, QColor(0, 0, 0)), 20);
  form->AddLine("An error line", ombrix::setup::lkError);
  image = form->ConfirmDetails->viewport()->grab().toImage();
  EXPECT_GT(Pixels(image, QColor(255, 0, 0)), 20);
}

TEST_F(Form, UninstallModeIgnoresTheLetterCaseOfItsName) {
  auto form = Open("Uninstall.EXE");
  EXPECT_TRUE(form->UninstallMode());
  EXPECT_EQ(form->windowTitle(), "Demo App Uninstall");
  EXPECT_EQ(form->WelcomeTitle->text(), "Demo App Uninstall");
  EXPECT_EQ(form->NextButton->text(), "Uninstall");
  EXPECT_TRUE(form->BackButton->isHidden());
  EXPECT_TRUE(form->LicenseButton->isHidden());
  form->CancelButton->click();  // closes at once, no question
  EXPECT_FALSE(form->isVisible());
}

TEST_F(Form, AMissingScriptShowsTheErrorPage) {
  auto form = Open("setup", "");
  EXPECT_EQ(form->CurrentPage(), 6);
  EXPECT_EQ(form->windowTitle(), "Setup");
  EXPECT_EQ(form->ErrorTitle->text(), "Installation Error");
  EXPECT_EQ(form->ErrorText->text(),
            "The installation settings file was not found or is invalid.\n\nThe application was "
            "not successfully installed.  You must run this setup program again to complete the "
            "installation.\n\nClick Exit to exit this program.");
  auto uninstaller = Open("uninstall.exe", "");
  EXPECT_EQ(uninstaller->ErrorTitle->text(), "Uninstall Error");
}

TEST_F(Form, AnOverlongValueIsNamedOnTheErrorPage) {
  auto form = Open("setup", std::string(kScript) + "Files=" + std::string(3000, 'f') + "\n");
  EXPECT_EQ(form->CurrentPage(), 6);
  EXPECT_TRUE(form->ErrorText->text().startsWith(
      "The installation settings file is invalid: the value of \"Files\" is longer than 2047 "
      "characters.\n\n"));
}

TEST_F(Form, NothingIsCreatedBeforeTheInstallStep) {
  const QByteArray home = qgetenv("HOME");
  std::filesystem::create_directory(dir.File("home"));
  qputenv("HOME", dir.File("home").c_str());
  qunsetenv("XDG_DATA_HOME");
  qunsetenv("XDG_CONFIG_HOME");
  auto withoutScript = Open("setup", "");
  EXPECT_EQ(withoutScript->CurrentPage(), 6);
  auto form = Open("setup",
                   "[Settings]\nName=Demo\nDirectory=~/Apps/#APP_NAME\nExename=demo\n"
                   "ShortCuts=demo Demo\n");
  EXPECT_EQ(form->InstallDirectory->text().toStdString(), dir.File("home/Apps/Demo"));
  for (int page = 0; page < 3; ++page) form->NextButton->click();
  EXPECT_EQ(form->CurrentPage(), 3);
  qputenv("HOME", home);
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("home")));
}

}  // namespace
