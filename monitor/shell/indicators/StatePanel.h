// The state icons of the status line and the tray menu's indicator items: what the tick and
// the menu's opening show of the four resources.
#pragma once
#include <QWidget>

#include "monitor/shell/indicators/Indicators.h"

class QAction;
class QSystemTrayIcon;

namespace ombrix {

// One 16x16 state icon; painted from the image list at the screen's pixel ratio.
class TStateIcon : public QWidget {
  Q_OBJECT

 public:
  explicit TStateIcon(QWidget* parent = nullptr);
  void SetState(int imageIndex);
  int State() const { return state_; }
  QSize sizeHint() const override;

 signals:
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  int state_ = stGreen;  // the design-time picture until the first tick
};

// Panel1 of the status line: the processor, memory, disk and network state icons.
class TStatePanel : public QWidget {
  Q_OBJECT

 public:
  explicit TStatePanel(QWidget* parent = nullptr);

  TStateIcon* ProcessorState;
  TStateIcon* MemoryState;
  TStateIcon* DiskState;
  TStateIcon* NetworkState;

  void ShowStates(const TStates& states);
  void SetHints(const THints& hints);

 signals:
  // A double click on any of the four icons: the user asks for a one-sample trace.
  void StateDoubleClicked();
};

// The tip keeps carriage returns between its lines; the tray shows them as line breaks.
QString TipForDisplay(const QString& tip);

// The tray menu's items that show the indicators.
struct TTrayMenuItems {
  QAction* AboutMenu = nullptr;
  QAction* ProcessorMenu = nullptr;
  QAction* MemoryMenu = nullptr;
  QAction* DiskMenu = nullptr;
  QAction* NetworkMenu = nullptr;
  QAction* ElapsedMenu = nullptr;
};
void ApplyTrayCaptions(const TTrayMenuItems& items, const TTrayCaptions& captions);
// Each indicator item shows the disc of its resource's state.
void ApplyMenuStates(const TTrayMenuItems& items, const TStates& states);

// Shows computed states: on the state icons when panel is given (the window is shown), on
// the indicator items when menu is given (the menu is opening), and the worst of them as
// the tray icon.
void ShowStates(const TStates& states, TStatePanel* panel, const TTrayMenuItems* menu,
                QSystemTrayIcon* tray);

}  // namespace ombrix
