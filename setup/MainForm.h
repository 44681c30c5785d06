// The wizard window: banner, eight pages, Back/Next/Cancel.
#pragma once
#include <QDialog>
#include <QStyledItemDelegate>
#include <cstdint>
#include <string>

#include "setup/Installer.h"
#include "setup/Script.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace ombrix::setup {

// Draws a list line in the colour of its kind.
class TLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

enum TPage {
  pgWelcome,
  pgDirectory,
  pgOptions,
  pgConfirm,
  pgStatus,
  pgComplete,
  pgError,
  pgUninstall
};

class TForm1 : public QDialog, public TSetupView {
 public:
  // programPath: the running program's file; its folder holds setup.inf.
  explicit TForm1(std::string programPath, QWidget* parent = nullptr);

  // Steps the installation calls back into.
  bool SetStatus(const std::string& status, const std::string& fileName) override;
  void StepProgress() override;
  void ShowErrorPage(const std::string& message) override;
  bool AskYesNo(const std::string& question) override;
  void AddLine(const std::string& text, TLineKind kind) override;
  bool Canceled() const override { return canceled_; }

  void ShowPage(int page);
  int CurrentPage() const;
  bool UninstallMode() const { return uninstallMode_; }
  const TScript& Script() const { return script_; }

  // Handlers.
  void FormCreate();
  void BackButtonClick();
  void NextButtonClick();
  void CancelButtonClick();
  void ChangeButtonClick();
  void ReadMeButtonClick();
  void LicenseButtonClick();
  void AddShortCutsOptionClick();
  // Draws a line of either list: the kind's colour on the list's face.
  static void UninstallMessagesDrawItem(QPainter* painter, const QStyleOptionViewItem& option,
                                        const QModelIndex& index);

  // Controls, named as the pages name them.
  QLabel* Image1;
  QStackedWidget* Notebook1;
  QPushButton *BackButton, *NextButton, *CancelButton;
  QLabel *WelcomeTitle, *WelcomeText, *WelcomeInstruction;
  QPushButton* LicenseButton;
  QLabel *DirectoryTitle, *DirectoryText, *Label4;
  QLineEdit* InstallDirectory;
  QPushButton* ChangeButton;
  QLabel *StartMenuTitle, *Label7;
  QCheckBox *AddShortCutsOption, *CommonOption, *AddToStartupOption, *StartNowOption;
  QLabel *ConfirmTitle, *Label5;
  QListWidget* ConfirmDetails;
  QLabel *StatusTitle, *StatusText, *FileNameText;
  QProgressBar* StatusProgressBar;
  QLabel *CompleteTitle, *CompleteText, *Label2;
  QPushButton* ReadMeButton;
  QLabel *ErrorTitle, *ErrorText;
  QLabel* UninstallTitle;
  QListWidget* UninstallMessages;

 protected:
  void reject() override;                        // Escape
  void closeEvent(QCloseEvent* event) override;  // the frame's close box

 private:
  void BuildWindow();
  QWidget* BuildWelcomePage();
  QWidget* BuildDirectoryPage();
  QWidget* BuildOptionsPage();
  QWidget* BuildConfirmPage();
  QWidget* BuildStatusPage();
  QWidget* BuildCompletePage();
  QWidget* BuildErrorPage();
  QWidget* BuildUninstallPage();
  void LoadBanner();
  void LoadLogo(const std::string& path);
  void ExpandControlTexts();
  void RunInstall();
  void RunUninstall();
  void FillConfirmList();

  std::string programPath_;
  TScript script_;
  TInstaller installer_;
  bool uninstallMode_ = false;
  bool canceled_ = false;
  std::uint32_t lastTick_ = 0;
  QListWidget* messageList_ = nullptr;
};

}  // namespace ombrix::setup
