#include "monitor/shell/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QHBoxLayout>
#include <QLocale>
#include <QMessageBox>
#include <QTime>
#include <QVBoxLayout>

#include "monitor/model/ModelLock.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/CoreFigures.h"
#include "monitor/shell/images/ImageList.h"

namespace ombrix {

namespace {

constexpr int DesignWidth = 587;
constexpr int DesignHeight = 415;

QString LongTime() {
  return QTime::currentTime().toString(QLocale().timeFormat(QLocale::LongFormat));
}

}  // namespace

TMainForm::TMainForm(TKernelEventTrace* trace) {
  setObjectName("MainForm");
  setWindowTitle("Ombrix");
  // A tool window: no taskbar entry; the notification-area icon is the way in.
  setWindowFlags(Qt::Tool);
  resize(DesignWidth, DesignHeight);
  QFont font("Tahoma");
  font.setStyleHint(QFont::SansSerif);  // the closest installed face when it is missing
  setFont(font);
  CreateComponents();
  core_ = std::make_unique<TMonitorCore>(*this, trace);
}

TMainForm::~TMainForm() {
  Timer1->stop();
  if (TrayIcon != nullptr) TrayIcon->hide();
  core_.reset();
}

QToolButton* TMainForm::ToolButton(const char* name, const QString& text, int tag) {
  auto* b = new QToolButton(Panel2);
  b->setObjectName(name);
  b->setText(text);
  b->setCheckable(true);
  b->setProperty("tag", tag);
  Panel2->layout()->addWidget(b);
  return b;
}

QFrame* TMainForm::CreateToolBar() {
  Panel2 = new QFrame(this);
  Panel2->setObjectName("Panel2");
  auto* bar = new QHBoxLayout(Panel2);
  bar->setContentsMargins(2, 2, 2, 2);
  AutoUpdateButton = ToolButton("AutoUpdateButton", "Auto update", 0);
  AutoUpdateButton->setChecked(true);
  viewGroup_ = new QButtonGroup(this);
  ProcessButton = ToolButton("ProcessButton", "Processes", 0);
  DiskButton = ToolButton("DiskButton", "Disks", 1);
  FileButton = ToolButton("FileButton", "Files", 2);
  AdapterButton = ToolButton("AdapterButton", "Adapters", 3);
  SocketButton = ToolButton("SocketButton", "Sockets", 4);
  for (QToolButton* b : {ProcessButton, DiskButton, FileButton, AdapterButton, SocketButton})
    viewGroup_->addButton(b, b->property("tag").toInt());
  ProcessButton->setChecked(true);
  valueGroup_ = new QButtonGroup(this);
  IntervalButton = ToolButton("IntervalButton", "Interval", 0);
  OverallButton = ToolButton("OverallButton", "Overall", 1);
  valueGroup_->addButton(IntervalButton);
  valueGroup_->addButton(OverallButton);
  IntervalButton->setChecked(true);
  ProcessList = new QComboBox(Panel2);
  ProcessList->setObjectName("ProcessList");
  bar->addWidget(ProcessList);
  bar->addStretch();
  return Panel2;
}

QFrame* TMainForm::CreateStatusLine() {
  StatusPanel = new QFrame(this);
  StatusPanel->setObjectName("StatusPanel");
  auto* line = new QHBoxLayout(StatusPanel);
  line->setContentsMargins(2, 1, 2, 1);
  StatusText = new QLabel(StatusPanel);
  StatusText->setObjectName("StatusText");
  line->addWidget(StatusText, 1);
  TimePanel = new QLabel(StatusPanel);
  TimePanel->setObjectName("TimePanel");
  line->addWidget(TimePanel);
  Panel1 = new QFrame(StatusPanel);
  Panel1->setObjectName("Panel1");
  auto* states = new QHBoxLayout(Panel1);
  states->setContentsMargins(0, 0, 0, 0);
  const auto state = [&](const char* name) {
    auto* image = new QLabel(Panel1);
    image->setObjectName(name);
    image->setFixedSize(ImageSize, ImageSize);
    image->setPixmap(ImageListPixmap(imGreen, devicePixelRatioF()));
    states->addWidget(image);
    return image;
  };
  ProcessorState = state("ProcessorState");
  MemoryState = state("MemoryState");
  DiskState = state("DiskState");
  NetworkState = state("NetworkState");
  line->addWidget(Panel1);
  return StatusPanel;
}

QAction* TMainForm::MenuItem(const char* name, const QString& text, int tag) {
  auto* a = new QAction(text, this);
  a->setObjectName(name);
  a->setProperty("tag", tag);
  TrayPopup->addAction(a);
  return a;
}

void TMainForm::CreateMenus() {
  TrayPopup = new QMenu(this);
  TrayPopup->setObjectName("TrayPopup");
  HelpMenu = MenuItem("HelpMenu", "Help", 0);
  AboutMenu = MenuItem("AboutMenu", "About...", 0);
  TrayPopup->addSeparator();
  ProcessorMenu = MenuItem("ProcessorMenu", "Processor usage", 1);
  MemoryMenu = MenuItem("MemoryMenu", "Memory usage", 2);
  DiskMenu = MenuItem("DiskMenu", "Disk busy", 3);
  NetworkMenu = MenuItem("NetworkMenu", "Network activity", 4);
  ElapsedMenu = MenuItem("ElapsedMenu", "Elapsed time", 0);
  TrayPopup->addSeparator();
  SettingsMenu = MenuItem("SettingsMenu", "Settings...", 0);
  TrayPopup->addSeparator();
  ExitMenu = MenuItem("ExitMenu", "Exit", 0);
  for (QAction* item : {ProcessorMenu, MemoryMenu, DiskMenu, NetworkMenu})
    connect(item, &QAction::triggered, this,
            [this, item] { ProcessorMenuClick(item->property("tag").toInt()); });
  connect(ExitMenu, &QAction::triggered, this, [this] { ExitMenuClick(); });

  MainPopup = new QMenu(this);
  MainPopup->setObjectName("MainPopup");
  GoogleMenu = new QAction("Google process name", this);
  GoogleMenu->setObjectName("GoogleMenu");
  MainPopup->addAction(GoogleMenu);
}

void TMainForm::CreateComponents() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(CreateToolBar());
  DrawGrid1 = new QWidget(this);
  DrawGrid1->setObjectName("DrawGrid1");
  layout->addWidget(DrawGrid1, 1);
  layout->addWidget(CreateStatusLine());
  CreateMenus();
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TMainForm::FormCreate() {
  core_->FormCreate();
}

void TMainForm::AddTrayIcon() {
  TrayIcon = new QSystemTrayIcon(ImageListIcon(imGreen), this);
  TrayIcon->setObjectName("TrayIcon");
  TrayIcon->setToolTip(QApplication::applicationName());
  connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason) {
    TrayClickPoint = QCursor::pos();
    TrayPopup->popup(TrayClickPoint);
  });
  TrayIcon->show();
}

void TMainForm::StartWindow() {
  setWindowFlag(Qt::WindowStaysOnTopHint, Settings.AlwaysOnTop);
  TimePanel->setText(LongTime());
  Timer1->setInterval(Settings.Interval);
  Timer1->start();
  DrawGrid1->setFont(font());
}

void TMainForm::Timer1Timer() {
  core_->Timer1Timer();
}

void TMainForm::SetStatusText(const std::string& text) {
  StatusText->setText(QString::fromStdString(text));
}

void TMainForm::UpdateIndicatorTexts() {
  if (TrayIcon != nullptr) TrayIcon->setToolTip(TipText(IndicatorTexts(CoreFigures(*core_))));
}

void TMainForm::UpdateWindowFigures() {
  if (isVisible()) TimePanel->setText(LongTime());
}

void TMainForm::ShowError(const std::string& text) {
  QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromStdString(text));
}

void TMainForm::ProcessorMenuClick(int tag) {
  SortDescending = true;
  if (tag == 1 || tag == 2) CurrentView = 0;
  if (tag == 3 && CurrentView != 1 && CurrentView != 2) CurrentView = 1;
  if (tag == 4 && CurrentView != 3 && CurrentView != 4) CurrentView = 3;
  SortColumn = tag == 1 ? 1 : tag == 2 ? 3 : 2;
  if (QAbstractButton* b = viewGroup_->button(CurrentView)) b->setChecked(true);
  if (!isVisible()) {
    show();
    raise();
    activateWindow();
  }
}

void TMainForm::ApplicationEventsMinimize() {
  RestoreRect = geometry();
  hide();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!CanExit) {
    event->ignore();
    ApplicationEventsMinimize();
    return;
  }
  Timer1->stop();
  try {
    SaveSettings();
  } catch (const std::exception& e) {
    core_->Errors().Report(e.what());
  }
  core_->StopTrace();
  event->accept();
}

void TMainForm::ExitMenuClick() {
  CanExit = true;
  Timer1->stop();
  core_->StopTrace();
  core_->WriteStopRecord();
  close();
  QApplication::quit();
}

void TMainForm::EndSession() {
  if (CanExit) return;  // already on a closing path
  CanExit = true;
  try {
    SaveSettings();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());  // no box: the session is ending
  }
  Timer1->stop();
  core_->StopTrace();
  close();
  QApplication::quit();
}

}  // namespace ombrix
