// The caption animation between a window's bounds and the notification area: a frame that
// flies from one rectangle to the other, so the user sees where a hidden window went.
#pragma once
#include <QRect>

class QWidget;

namespace ombrix {

// Starts the frame on its way and returns it (it deletes itself when it arrives). Returns
// nullptr and draws nothing when either rectangle is empty, as when the notification
// area's place is not known.
QWidget* AnimateCaption(const QRect& from, const QRect& to);

}  // namespace ombrix
