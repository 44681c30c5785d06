// The about window: the program's name and version. Shown at start-up and from the tray
// menu, it goes away by itself after four seconds; at most one exists at a time.
#pragma once
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace ombrix {

class TAboutForm : public QWidget {
  Q_OBJECT

 public:
  // trayRect gives the notification area's bounds for the closing animation (empty when
  // unknown).
  explicit TAboutForm(std::function<QRect()> trayRect);

  static constexpr std::uint32_t ShowMs = 4000;
  static constexpr int CheckMs = 500;

  // Closes the window once ShowMs have passed since it was shown.
  void Timer1Timer();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  std::function<QRect()> trayRect_;
  QTimer* timer_;
  std::uint32_t shownTick_ = 0;
};

// The one about window while it exists; cleared when it closes or goes.
extern QPointer<TAboutForm> AboutForm;

// Shows the about window, creating it when none exists; never waits for it.
void ShowAboutForm(std::function<QRect()> trayRect);

}  // namespace ombrix
