// The monitor's eight small images: the five view pictures (window, disk, document, network
// card, cable) and the green, yellow and red state discs. Drawn as vectors, so they stay
// sharp at every device pixel ratio.
#pragma once
#include <QIcon>
#include <QPixmap>

class QPainter;

namespace ombrix {

enum TImageIndex : int {
  imWindow = 0,
  imDisk = 1,
  imDocument = 2,
  imNetworkCard = 3,
  imCable = 4,
  imGreen = 5,
  imYellow = 6,
  imRed = 7,
};
inline constexpr int ImageCount = 8;
inline constexpr int ImageSize = 16;  // logical pixels

// Paints image index into a 16x16 logical square at the painter's origin; an unknown index
// paints nothing.
void PaintImage(QPainter& painter, int index);
// The image as an icon that renders itself at whatever size and pixel ratio is asked for.
QIcon ImageListIcon(int index);
// The 16x16 image rendered for devicePixelRatio.
QPixmap ImageListPixmap(int index, qreal devicePixelRatio = 1.0);

// The program's own icon (a screen with a load curve): the windows' icon, and the tray's
// until the first sample gives it a state.
QIcon ProgramIcon();

}  // namespace ombrix
