#include "monitor/shell/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLocale>
#include <QMessageBox>
#include <QTime>
#include <QVBoxLayout>

#include "monitor/history/HistoryText.h"
#include "monitor/model/ModelLock.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/AboutForm.h"
#include "monitor/shell/CoreFigures.h"
#include "monitor/shell/images/ImageList.h"
#include "monitor/shell/indicators/Indicators.h"
#include "monitor/shell/views/ViewFormat.h"
#include "platform/desktop/TrayHost.h"

namespace ombrix {

namespace {

constexpr int DesignWidth = 587;
constexpr int DesignHeight = 415;

// The design's size, where the settings still hold it, becomes the size at which this font
// shows every figure whole; a size the user chose stays.
void AdoptReadableSize(const QSize& readable) {
  if (Settings.Width != DesignWidth || Settings.Height != DesignHeight) return;
  Settings.Width = readable.width();
  Settings.Height = readable.height();
}

QString LongTime() {
  return QTime::currentTime().toString(
      TimeFormatWithoutZone(QLocale().timeFormat(QLocale::LongFormat)));
}

}  // namespace

TMainForm::TMainForm(TKernelEventTrace* trace) {
  setObjectName("MainForm");
  setWindowTitle("Ombrix");
  // A tool window: no taskbar entry; the notification-area icon is the way in.
  setWindowFlags(Qt::Tool);
  // The design's face at its 8 points; where it is missing, narrow faces come first, so
  // that the grid's figures show whole in columns of modest width.
  QFont::insertSubstitutions(
      "Tahoma", {"Nimbus Sans Narrow", "Liberation Sans Narrow", "DejaVu Sans Condensed",
                 "Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans"});
  QFont font("Tahoma");
  font.setStyleHint(QFont::SansSerif);  // the closest installed face when none of those is there
  font.setPointSize(8);
  setFont(font);
  resize(ReadableWindowSize(fontMetrics()));
  CreateComponents();
  core_ = std::make_unique<TMonitorCore>(*this, trace);
}

TMainForm::~TMainForm() {
  delete AboutForm;  // its closing animation asks this window for the tray's place
  Timer1->stop();
  if (TrayIcon != nullptr) TrayIcon->hide();
  Views->SetTables(nullptr);
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
  // The views add their buttons and ProcessList after it (CreateComponents).
  bar->setSpacing(2);
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
  Panel1 = new TStatePanel(StatusPanel);
  ProcessorState = Panel1->ProcessorState;
  MemoryState = Panel1->MemoryState;
  DiskState = Panel1->DiskState;
  NetworkState = Panel1->NetworkState;
  connect(Panel1, &TStatePanel::StateDoubleClicked, this, [this] { ProcessorStateDblClick(); });
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
  trayPopup_ = std::make_unique<QMenu>();
  TrayPopup = trayPopup_.get();
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
  // An item chosen in the panel's copy of the menu closes this one too, where it is open.
  for (QAction* item : TrayPopup->actions())
    connect(item, &QAction::triggered, TrayPopup, &QMenu::close);
  connect(TrayPopup, &QMenu::aboutToShow, this, [this] { TrayPopupPopup(); });
  trayItems_ = {AboutMenu, ProcessorMenu, MemoryMenu, DiskMenu, NetworkMenu, ElapsedMenu};
}

void TMainForm::CreateComponents() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(CreateToolBar());
  Views = new TViews(nullptr, this, Panel2);
  ProcessButton = Views->ProcessButton;
  DiskButton = Views->DiskButton;
  FileButton = Views->FileButton;
  AdapterButton = Views->AdapterButton;
  SocketButton = Views->SocketButton;
  HistoryButton = Views->HistoryButton;
  IntervalButton = Views->IntervalButton;
  OverallButton = Views->OverallButton;
  ProcessList = Views->ProcessList;
  DrawGrid1 = Views->DrawGrid1;
  MainPopup = Views->MainPopup;
  GoogleMenu = Views->GoogleMenu;
  Views->SetCaption = [this](const QString& caption) { setWindowTitle(caption); };
  Views->SetStatusText = [this](const QString& text) { StatusText->setText(text); };
  layout->addWidget(DrawGrid1, 1);
  CreateHistoryView(layout);
  layout->addWidget(CreateStatusLine());
  CreateMenus();
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  ConnectWindowHandling();
}

void TMainForm::CreateHistoryView(QBoxLayout* layout) {
  HistoryView = new THistoryView(this);
  HistoryView->hide();
  layout->addWidget(HistoryView, 1);
  HistoryView->HistoryPath = [this] { return core_->HistoryPath(); };
  HistoryView->RecorderText = [this] { return RecorderStateText(core_->History()); };
  Views->ShowHistory = [this](bool shown) {
    DrawGrid1->setVisible(!shown);
    HistoryView->setVisible(shown);
    if (shown) HistoryView->Reload(true);
  };
  Views->RefreshHistory = [this] { HistoryView->Reload(); };
}

void TMainForm::FormCreate() {
  core_->Start();
  Views->SetTables(&core_->Tables);
  AdoptReadableSize(ReadableWindowSize(fontMetrics()));
  if (!trayHostSeen_) UseWithoutTray();
}

void TMainForm::AddTrayIcon() {
  // The program's icon until the first tick gives the tray a state to show.
  TrayIcon = new QSystemTrayIcon(ProgramIcon(), this);
  TrayIcon->setObjectName("TrayIcon");
  TrayIcon->setToolTip(QApplication::applicationName());
  connect(TrayIcon, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { TrayIconActivated(reason); });
  // A StatusNotifier panel draws the menu itself, where it draws its own; an XEmbed icon
  // leaves it to the program, which opens it on either button as the design has it.
  TrayMenuExported = platform::StatusNotifierHostPresent();
  if (TrayMenuExported) TrayIcon->setContextMenu(TrayPopup);
  TrayIcon->show();
  trayHostSeen_ = TrayHostPresent();
  TrayWatch->start();
}

void TMainForm::StartWindow() {
  ApplyAlwaysOnTop();
  TimePanel->setText(LongTime());
  Timer1->setInterval(Settings.Interval);
  Timer1->start();
  DrawGrid1->setFont(font());
  AboutMenuClick();
}

void TMainForm::Timer1Timer() {
  core_->RunTick();
}

void TMainForm::SetStatusText(const std::string& text) {
  StatusText->setText(QString::fromStdString(text));
}

void TMainForm::UpdateIndicatorTexts() {
  if (TrayIcon != nullptr)
    TrayIcon->setToolTip(TipForDisplay(TipText(IndicatorTexts(CoreFigures(*core_)))));
  // A panel that draws the exported menu may open it without telling the program first.
  if (TrayMenuExported) TrayPopupPopup();
}

void TMainForm::UpdateWindowFigures() {
  if (!isVisible()) return;
  TimePanel->setText(LongTime());
  Panel1->SetHints(StateHints(IndicatorTexts(CoreFigures(*core_))));
}

void TMainForm::UpdateStateIcons() {
  const TStates states = ComputeStates(CoreFigures(*core_), Settings);
  ShowStates(states, isVisible() ? Panel1 : nullptr, nullptr, TrayIcon);
}

void TMainForm::RefreshGrid() {
  if (!isVisible()) return;
  // With auto-update off the rows keep their order; only the figures are repainted.
  if (AutoUpdateButton->isChecked()) {
    Views->Refresh(false);
  } else {
    Views->Repaint();
  }
}

void TMainForm::TrayPopupPopup() {
  std::lock_guard lock(ModelLock);
  const TFigures figures = CoreFigures(*core_);
  const TAverage* interval = core_->IntervalAverage();
  ApplyTrayCaptions(trayItems_,
                    TrayCaptions(IndicatorTexts(figures), interval ? interval->Sum() : 0));
  ShowStates(ComputeStates(figures, Settings), isVisible() ? Panel1 : nullptr, &trayItems_,
             TrayIcon);
}

void TMainForm::ProcessorStateDblClick() {
  core_->RequestTrace();
  StatusText->setText(TraceEnabledText);
}

void TMainForm::ShowError(const std::string& text) {
  QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromStdString(text));
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Without a notification area there is nothing to hide to: closing is Exit.
  if (!CanExit && Trayless) {
    StopForExit();
    QTimer::singleShot(0, qApp, &QApplication::quit);
  }
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

void TMainForm::StopForExit() {
  CanExit = true;
  if (SettingsForm) SettingsForm->reject();  // an open dialog ends as Cancel
  Timer1->stop();
  core_->StopTrace();
  core_->WriteStopRecord();
}

void TMainForm::ExitMenuClick() {
  StopForExit();
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
