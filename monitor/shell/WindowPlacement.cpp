#include "monitor/shell/WindowPlacement.h"

#include <algorithm>

namespace ombrix {

namespace {

// Two pixels of the desktop stay visible between the window and the panel.
constexpr int BottomGap = 2;

QRect RightBottomAt(QPoint trayClick, QSize outerSize, const QRect& workArea) {
  const int bottom = workArea.y() + workArea.height();
  return {trayClick.x() - outerSize.width(), bottom - outerSize.height() - BottomGap,
          outerSize.width(), outerSize.height()};
}

}  // namespace

QRect MainWindowPlace(QPoint trayClick, QSize outerSize, const QRect& workArea) {
  QRect place = RightBottomAt(trayClick, outerSize, workArea);
  place.moveTo(std::max(place.x(), workArea.x()), std::max(place.y(), workArea.y()));
  return place;
}

// Held inside the work area as the window is: with the tray at the left, as many panels
// have it, the dialog would otherwise open with its buttons off the screen.
QRect DialogPlace(QPoint trayClick, QSize outerSize, const QRect& workArea) {
  return MainWindowPlace(trayClick, outerSize, workArea);
}

QSize FrameExtra(const QRect& frameGeometry, const QRect& clientGeometry) {
  return {std::max(0, frameGeometry.width() - clientGeometry.width()),
          std::max(0, frameGeometry.height() - clientGeometry.height())};
}

}  // namespace ombrix
