// The main window: owns the monitor's core and shows it. It starts hidden; only the
// notification-area icon shows. Without a notification area it starts shown instead, as an
// ordinary window that the tray icon takes over once a tray host appears. The views,
// indicators and tray menu plug into the places named below (DrawGrid1, the status line,
// TrayPopup).
#pragma once
#include <QAction>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

#include "monitor/settings/SettingsForm.h"
#include "monitor/shell/MonitorCore.h"
#include "monitor/shell/indicators/StatePanel.h"
#include "monitor/shell/views/HistoryView.h"
#include "monitor/shell/views/Views.h"

namespace ombrix {

// The status line's word on the window's behaviour when there is no notification area, and
// when one has appeared.
inline constexpr const char* NoTrayText = "No notification area: closing this window ends Ombrix";
inline constexpr const char* TrayAgainText =
    "Ombrix is in the notification area now: closing this window hides it there";

class TMainForm : public QWidget, public TFrontEnd {
  Q_OBJECT

 public:
  explicit TMainForm(TKernelEventTrace* trace);
  ~TMainForm() override;  // FormDestroy

  TMonitorCore& Core() { return *core_; }
  bool CanExit = false;

  // Components, named as the window's design names them.
  QFrame* Panel2 = nullptr;
  QToolButton* AutoUpdateButton = nullptr;
  QToolButton* ProcessButton = nullptr;
  QToolButton* DiskButton = nullptr;
  QToolButton* FileButton = nullptr;
  QToolButton* AdapterButton = nullptr;
  QToolButton* SocketButton = nullptr;
  QToolButton* HistoryButton = nullptr;
  QToolButton* IntervalButton = nullptr;
  QToolButton* OverallButton = nullptr;
  QComboBox* ProcessList = nullptr;
  TDrawGrid* DrawGrid1 = nullptr;
  THistoryView* HistoryView = nullptr;  // in DrawGrid1's place while History is the view
  QFrame* StatusPanel = nullptr;
  QLabel* StatusText = nullptr;
  TStatePanel* Panel1 = nullptr;
  TStateIcon* ProcessorState = nullptr;
  TStateIcon* MemoryState = nullptr;
  TStateIcon* DiskState = nullptr;
  TStateIcon* NetworkState = nullptr;
  QLabel* TimePanel = nullptr;
  QMenu* TrayPopup = nullptr;
  QAction* HelpMenu = nullptr;
  QAction* AboutMenu = nullptr;
  QAction* ProcessorMenu = nullptr;
  QAction* MemoryMenu = nullptr;
  QAction* DiskMenu = nullptr;
  QAction* NetworkMenu = nullptr;
  QAction* ElapsedMenu = nullptr;
  QAction* SettingsMenu = nullptr;
  QAction* ExitMenu = nullptr;
  QMenu* MainPopup = nullptr;
  QAction* GoogleMenu = nullptr;
  QTimer* Timer1 = nullptr;
  QSystemTrayIcon* TrayIcon = nullptr;
  // The five views: view buttons, ProcessList, DrawGrid1 and MainPopup, with CurrentView,
  // SortColumn and SortDescending.
  TViews* Views = nullptr;

  // Window fields kept for the tray handling.
  QPoint TrayClickPoint;
  QRect RestoreRect;
  // The settings dialog while it is open.
  QPointer<TSettingsForm> SettingsForm;
  std::string HelpFile;
  // Watches for the desktop's tray host coming back, to put the icon in it again.
  QTimer* TrayWatch = nullptr;
  // No notification area: the window is shown as an ordinary one, minimising minimises and
  // closing ends the program, until a tray host appears.
  bool Trayless = false;
  // The panel draws TrayPopup itself from the exported menu (a StatusNotifier host), as
  // opposed to an XEmbed icon that reports its clicks to the program.
  bool TrayMenuExported = false;

  // How the window reaches the desktop and the user; tests replace them.
  std::function<int(TSettingsForm& dialog)> RunSettingsForm;  // modal run, the dialog's result
  std::function<void(const QUrl& url)> OpenDocument;
  std::function<void(const QString& text)> ShowMessage;
  std::function<bool()> TrayHostPresent;  // is there a notification area to show the icon in

  void FormCreate();
  void Timer1Timer();
  void ExitMenuClick();
  // The end of the desktop session (or SIGTERM): settings saved, no stop record.
  void EndSession();
  // The tray icon's left or right click opens TrayPopup at the cursor.
  void TrayIconActivated(QSystemTrayIcon::ActivationReason reason);
  // The indicator items (tags 1 to 4) open the window.
  void ProcessorMenuClick(int tag);
  void SettingsMenuClick();
  void HelpMenuClick();
  void ShowHelp(int context);
  void AboutMenuClick();
  void ApplicationEventsMinimize();
  void ApplicationEventsRestore();
  void ApplyAlwaysOnTop();
  // Into and out of the window-only behaviour, as the tray host goes and comes.
  void UseWithoutTray();
  void UseTray();
  // The tray icon's bounds on the screen; empty while the desktop has not told them.
  QRect TrayRect() const;
  void CheckTrayHost();
  // Captions and state images of the tray menu, just before it opens.
  void TrayPopupPopup();
  void ProcessorStateDblClick();

  // TFrontEnd
  void AddTrayIcon() override;
  void StartWindow() override;
  void SetStatusText(const std::string& text) override;
  void UpdateIndicatorTexts() override;
  void UpdateWindowFigures() override;
  void UpdateStateIcons() override;
  void RefreshGrid() override;
  void ShowError(const std::string& text) override;

 protected:
  void closeEvent(QCloseEvent* event) override;    // FormCloseQuery
  void resizeEvent(QResizeEvent* event) override;  // FormResize
  void changeEvent(QEvent* event) override;        // a minimise hides to the tray

 private:
  void CreateComponents();
  QFrame* CreateToolBar();
  QFrame* CreateStatusLine();
  void CreateHistoryView(QBoxLayout* layout);
  void CreateMenus();
  QToolButton* ToolButton(const char* name, const QString& text, int tag);
  QAction* MenuItem(const char* name, const QString& text, int tag);
  void ConnectWindowHandling();
  void ConnectHelpKeys();
  void PlaceFromTray();
  void RefinePlacement();
  void SetWindowType(Qt::WindowType type);
  void ReplaceFlags(Qt::WindowFlags flags);
  void BringForward();
  void PopUpTrayMenu();
  void StopForExit();

  // The tray menu has no parent window: a dialog modal to the main window must not block it.
  std::unique_ptr<QMenu> trayPopup_;
  std::unique_ptr<TMonitorCore> core_;
  TTrayMenuItems trayItems_;
  bool closing_ = false;
  bool trayHostSeen_ = false;
};

}  // namespace ombrix
