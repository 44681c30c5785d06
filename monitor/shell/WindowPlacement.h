// Where the window and the settings dialog open: their right edge at the point where the
// tray was clicked, their bottom just above the bottom of the work area.
#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>

namespace ombrix {

// The main window's outer bounds. Kept inside the work area's left and top edges: a tray
// near the screen's left edge, or a window taller than the work area, still shows its
// caption and controls.
QRect MainWindowPlace(QPoint trayClick, QSize outerSize, const QRect& workArea);

// The settings dialog's outer bounds, placed the same way.
QRect DialogPlace(QPoint trayClick, QSize outerSize, const QRect& workArea);

// The size between a window's frame and its client area, as the window manager drew it the
// last time; empty before the window was first shown.
QSize FrameExtra(const QRect& frameGeometry, const QRect& clientGeometry);

}  // namespace ombrix
