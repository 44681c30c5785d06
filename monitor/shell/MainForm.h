// The main window: owns the monitor's core and shows it. It starts hidden; only the
// notification-area icon shows. The views, indicators and tray menu plug into the places
// named below (DrawGrid1, the status line, TrayPopup).
#pragma once
#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <QRect>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <memory>

#include "monitor/shell/MonitorCore.h"
#include "monitor/shell/indicators/StatePanel.h"
#include "monitor/shell/views/Views.h"

namespace ombrix {

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
  QToolButton* IntervalButton = nullptr;
  QToolButton* OverallButton = nullptr;
  QComboBox* ProcessList = nullptr;
  TDrawGrid* DrawGrid1 = nullptr;
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

  void FormCreate();
  void Timer1Timer();
  void ExitMenuClick();
  // The end of the desktop session (or SIGTERM): settings saved, no stop record.
  void EndSession();
  // The indicator items (tags 1 to 4) open the window.
  void ProcessorMenuClick(int tag);
  void ApplicationEventsMinimize();
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
  void resizeEvent(QResizeEvent* event) override;  // FormResize: the grid's columns

 private:
  void CreateComponents();
  QFrame* CreateToolBar();
  QFrame* CreateStatusLine();
  void CreateMenus();
  QToolButton* ToolButton(const char* name, const QString& text, int tag);
  QAction* MenuItem(const char* name, const QString& text, int tag);

  std::unique_ptr<TMonitorCore> core_;
  TTrayMenuItems trayItems_;
  bool closing_ = false;
};

}  // namespace ombrix
