#include "setup/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QUrl>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/installer/Folders.h"
#include "platform/installer/Jpeg.h"
#include "platform/installer/KeyStore.h"
#include "platform/paths/Paths.h"
#include "platform/tickcount/TickCount.h"
#include "setup/Lines.h"

namespace ombrix::setup {

namespace {

constexpr int KindRole = Qt::UserRole + 1;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

std::string S(const QString& s) {
  return s.toStdString();
}

QPixmap ToPixmap(const platform::DecodedImage& image) {
  const QImage view(image.Rgb.data(), image.Width, image.Height, image.Width * 3,
                    QImage::Format_RGB888);
  return QPixmap::fromImage(view.copy());
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void TLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
  TForm1::UninstallMessagesDrawItem(painter, option, index);
}

void TForm1::UninstallMessagesDrawItem(QPainter* painter, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) {
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  painter->fillRect(option.rect, selected ? option.palette.highlight() : option.palette.button());
  QColor color = option.palette.color(QPalette::WindowText);
  const int kind = index.data(KindRole).toInt();
  if (kind == lkError) color = QColor(255, 0, 0);
  if (kind == lkNote) color = QColor(0, 0, 255);
  painter->setPen(color);
  painter->setFont(option.font);
  painter->drawText(option.rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                    index.data(Qt::DisplayRole).toString());
}

QSize TLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return {option.rect.width(), option.fontMetrics.boundingRect("X").height() + 2};
}

TForm1::TForm1(std::string programPath, QWidget* parent)
    : QDialog(parent), programPath_(std::move(programPath)), installer_(script_, *this) {
  BuildWindow();
  FormCreate();
}

void TForm1::FormCreate() {
  installer_.ExeFileName = platform::ExtractFileName(programPath_);
  uninstallMode_ = Lower(installer_.ExeFileName) == "uninstall.exe";
  installer_.SourceDir = platform::ExtractFilePath(programPath_);
  if (installer_.SourceDir.empty() || installer_.SourceDir.back() != '/')
    installer_.SourceDir += '/';
  installer_.ShellFolder = [](int kind) { return platform::ShellFolderPath(kind); };
  installer_.MachineKeys = platform::KeyRootFolder(platform::KeyRoot::LocalMachine);
  LoadBanner();

  script_.ProgramFiles = platform::ProgramFilesPath();
  script_.HomeFolder = platform::CurrentFolderFacts().Home;
  if (!script_.ReadScript(installer_.SourceDir)) {
    ShowErrorPage(script_.Problem.empty()
                      ? "The installation settings file was not found or is invalid"
                      : script_.Problem);
    return;
  }
  AddToStartupOption->setChecked(script_.AddToStartup);
  StartNowOption->setChecked(script_.StartNow);
  if (!script_.Logo.empty()) LoadLogo(installer_.SourceDir + script_.Logo);
  if (uninstallMode_) {
    setWindowTitle(Q(script_.AppName + " Uninstall"));
  } else {
    setWindowTitle(Q(script_.AppName + " Setup"));
    if (!script_.LicenseFile.empty() &&
        !platform::FileExists(installer_.SourceDir + script_.LicenseFile))
      script_.LicenseFile.clear();
    ExpandControlTexts();
  }
  QApplication::setApplicationDisplayName(windowTitle());
  ShowPage(pgWelcome);
}

void TForm1::LoadBanner() {
  QFile file(":/setup/banner.jpg");
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = file.readAll();
  const auto image = platform::DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          static_cast<std::size_t>(bytes.size()));
  if (image) Image1->setPixmap(ToPixmap(*image));
}

// A logo that cannot be loaded leaves the built-in banner.
void TForm1::LoadLogo(const std::string& path) {
  const std::string ext = Lower(path.substr(path.find_last_of('.') + 1));
  QPixmap pixmap;
  if (ext == "jpg" || ext == "jpeg") {
    if (const auto image = platform::LoadJpegFile(path)) pixmap = ToPixmap(*image);
  } else if (ext == "bmp" || ext == "ico") {
    pixmap.load(Q(path), ext == "bmp" ? "BMP" : "ICO");
  }
  if (!pixmap.isNull()) Image1->setPixmap(pixmap);
}

void TForm1::ExpandControlTexts() {
  for (QObject* child : findChildren<QObject*>()) {
    if (auto* label = qobject_cast<QLabel*>(child))
      label->setText(Q(script_.ExpandPlaceholders(S(label->text()))));
    else if (auto* box = qobject_cast<QCheckBox*>(child))
      box->setText(Q(script_.ExpandPlaceholders(S(box->text()))));
    else if (auto* edit = qobject_cast<QLineEdit*>(child))
      edit->setText(Q(script_.ExpandPlaceholders(S(edit->text()))));
  }
}

int TForm1::CurrentPage() const {
  return Notebook1->currentIndex();
}

void TForm1::ShowPage(int page) {
  Notebook1->setCurrentIndex(page);
  BackButton->setVisible(!uninstallMode_);
  BackButton->setEnabled(page >= pgDirectory && page <= pgConfirm);
  NextButton->setEnabled(page != pgStatus);
  CancelButton->setEnabled(page <= pgStatus);
  messageList_ = nullptr;
  switch (page) {
    case pgWelcome:
      if (uninstallMode_) {
        WelcomeTitle->setText(Q(script_.AppName + " Uninstall"));
        WelcomeText->setText(
            Q("This program will remove " + script_.AppName + " from your computer."));
        WelcomeInstruction->setText(
            "Click Uninstall to uninstall the application, or click Cancel to exit this "
            "program.");
        NextButton->setText("Uninstall");
        LicenseButton->setVisible(false);
      } else {
        WelcomeTitle->setText(Q(script_.AppName + " Setup"));
        WelcomeText->setText(
            Q("This program will install " + script_.AppName + " on your computer."));
        WelcomeInstruction->setText("Click Next to continue.");
        NextButton->setText("Next");
        LicenseButton->setVisible(!script_.LicenseFile.empty());
      }
      break;
    case pgOptions:
      NextButton->setText("Next");
      break;
    case pgConfirm:
      messageList_ = ConfirmDetails;
      NextButton->setText("Install");
      FillConfirmList();
      break;
    case pgStatus:
    case pgComplete:
      NextButton->setText("Finish");
      if (page == pgComplete)
        ReadMeButton->setVisible(platform::FileExists(installer_.InstallDir + "readme.txt"));
      break;
    case pgError:
      NextButton->setText("Exit");
      break;
    case pgUninstall:
      NextButton->setText("Exit");
      messageList_ = UninstallMessages;
      break;
    default:
      break;
  }
}

void TForm1::FillConfirmList() {
  ConfirmDetails->clear();
  TInstallOptions options{AddShortCutsOption->isChecked(), CommonOption->isChecked(),
                          AddToStartupOption->isChecked()};
  for (const auto& [text, kind] :
       ConfirmLines(S(InstallDirectory->text()), options, StartNowOption->isChecked()))
    AddLine(text, kind);
  ConfirmDetails->scrollToTop();
}

void TForm1::AddLine(const std::string& text, TLineKind kind) {
  if (messageList_ == nullptr) return;
  const QFontMetrics metrics(font());
  const int limit = messageList_->width() - 30;
  QListWidgetItem* last = nullptr;
  for (const auto& line : WrapText(
           text, limit, [&](const std::string& s) { return metrics.horizontalAdvance(Q(s)); })) {
    last = new QListWidgetItem(Q(line), messageList_);
    last->setData(KindRole, static_cast<int>(kind));
  }
  if (last != nullptr) messageList_->scrollToItem(last, QAbstractItemView::PositionAtTop);
  if (!uninstallMode_) return;
  // Uninstall lines come at a pace the eye can follow.
  while (TicksSince(lastTick_, platform::GetTickCount()) < 100) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  lastTick_ = platform::GetTickCount();
}

void TForm1::ShowErrorPage(const std::string& message) {
  ShowPage(pgError);
  if (script_.AppName.empty()) script_.AppName = "The application";
  const TErrorTexts texts = ErrorTexts(message, script_.AppName, canceled_, uninstallMode_);
  ErrorTitle->setText(Q(texts.Title));
  ErrorText->setText(Q(texts.Text));
}

bool TForm1::AskYesNo(const std::string& question) {
  return QMessageBox::question(this, windowTitle(), Q(question),
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool TForm1::SetStatus(const std::string& status, const std::string& fileName) {
  StatusText->setText(Q(status));
  FileNameText->setText(Q(fileName));
  QApplication::processEvents();
  return !canceled_;
}

void TForm1::StepProgress() {
  StatusProgressBar->setValue(StatusProgressBar->value() + 1);
  // Each step shows for a moment, however fast the copying.
  while (TicksSince(lastTick_, platform::GetTickCount()) < 200)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  lastTick_ = platform::GetTickCount();
}

void TForm1::BackButtonClick() {
  ShowPage(CurrentPage() - 1);
}

void TForm1::NextButtonClick() {
  switch (CurrentPage()) {
    case pgWelcome:
      if (uninstallMode_)
        RunUninstall();
      else
        ShowPage(pgDirectory);
      break;
    case pgDirectory:
    case pgOptions:
      ShowPage(CurrentPage() + 1);
      break;
    case pgConfirm:
      RunInstall();
      break;
    case pgComplete:
      if (StartNowOption->isChecked()) {
        QDir::setCurrent(Q(installer_.InstallDir));
        QProcess::startDetached(Q(installer_.InstallDir + script_.Exename), {},
                                Q(installer_.InstallDir));
      }
      close();
      break;
    case pgError:
    case pgUninstall:
      close();
      break;
    default:
      break;
  }
}

void TForm1::RunInstall() {
  ShowPage(pgStatus);
  installer_.Options = {AddShortCutsOption->isChecked(), CommonOption->isChecked(),
                        AddToStartupOption->isChecked()};
  StatusProgressBar->setMaximum(installer_.ProgressMaximum());
  StatusProgressBar->setValue(0);
  lastTick_ = platform::GetTickCount();
  try {
    if (!installer_.RunInstall(S(InstallDirectory->text()))) return;
  } catch (const std::exception& e) {
    // Stays on the Status page; Cancel leads on to the Error page.
    QMessageBox::critical(this, windowTitle(), QString::fromStdString(e.what()));
    return;
  }
  setFocus();
  StepProgress();
  CompleteText->setText(Q(script_.AppName + " has been successfully installed on your computer."));
  ShowPage(pgComplete);
}

void TForm1::RunUninstall() {
  ShowPage(pgUninstall);
  UninstallMessages->clear();
  installer_.InstallDir = installer_.SourceDir;
  lastTick_ = platform::GetTickCount();
  if (!installer_.RunUninstall()) return;
  const bool errors = installer_.HadErrors;
  UninstallTitle->setText(errors ? "Uninstall Completed with Errors" : "Uninstall Complete");
  QPalette palette = UninstallTitle->palette();
  palette.setColor(QPalette::WindowText, errors ? QColor(255, 0, 0) : QColor(Qt::black));
  UninstallTitle->setPalette(palette);
}

void TForm1::CancelButtonClick() {
  if (uninstallMode_) {
    close();
    return;
  }
  if (!AskYesNo("Are you sure you want to cancel the installation of " + script_.AppName + "?"))
    return;
  canceled_ = true;
  ShowErrorPage("The installation was canceled");
}

void TForm1::ChangeButtonClick() {
  const QString dir =
      QFileDialog::getExistingDirectory(this, Q("Install Directory for " + script_.AppName),
                                        InstallDirectory->text(), QFileDialog::ShowDirsOnly);
  if (!dir.isEmpty()) InstallDirectory->setText(dir);
}

void TForm1::ReadMeButtonClick() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(Q(installer_.InstallDir + "readme.txt")));
}

void TForm1::LicenseButtonClick() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(Q(installer_.SourceDir + script_.LicenseFile)));
}

void TForm1::AddShortCutsOptionClick() {
  if (CommonOption->isHidden()) return;
  CommonOption->setEnabled(AddShortCutsOption->isChecked());
  if (!CommonOption->isEnabled()) CommonOption->setChecked(false);
}

void TForm1::reject() {
  if (CancelButton->isEnabled()) CancelButtonClick();
}

void TForm1::closeEvent(QCloseEvent* event) {
  event->accept();
}

}  // namespace ombrix::setup
