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
  QWidget* DrawGrid1 = nullptr;  // the grid's place; the views put their grid here
  QFrame* StatusPanel = nullptr;
  QLabel* StatusText = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel* ProcessorState = nullptr;
  QLabel* MemoryState = nullptr;
  QLabel* DiskState = nullptr;
  QLabel* NetworkState = nullptr;
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

  // Window fields kept for the views and the tray handling.
  int CurrentView = 0;
  QPoint TrayClickPoint;
  int SortColumn = 0;
  bool SortDescending = false;
  QRect RestoreRect;

  void FormCreate();
  void Timer1Timer();
  void ExitMenuClick();
  // The end of the desktop session (or SIGTERM): settings saved, no stop record.
  void EndSession();
  // The indicator items (tags 1 to 4) open the window.
  void ProcessorMenuClick(int tag);
  void ApplicationEventsMinimize();

  // TFrontEnd
  void AddTrayIcon() override;
  void StartWindow() override;
  void SetStatusText(const std::string& text) override;
  void UpdateIndicatorTexts() override;
  void UpdateWindowFigures() override;
  void ShowError(const std::string& text) override;

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormCloseQuery

 private:
  void CreateComponents();
  QFrame* CreateToolBar();
  QFrame* CreateStatusLine();
  void CreateMenus();
  QToolButton* ToolButton(const char* name, const QString& text, int tag);
  QAction* MenuItem(const char* name, const QString& text, int tag);

  std::unique_ptr<TMonitorCore> core_;
  QButtonGroup* viewGroup_ = nullptr;
  QButtonGroup* valueGroup_ = nullptr;
  bool closing_ = false;
};

}  // namespace ombrix
