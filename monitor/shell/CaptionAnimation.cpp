#include "monitor/shell/CaptionAnimation.h"

#include <QPainter>
#include <QPropertyAnimation>
#include <QRegion>
#include <QWidget>

namespace ombrix {

namespace {

constexpr int FlightMs = 250;
constexpr int BarHeight = 18;

// A caption bar's outline, drawn in the selection colour so it reads on any theme.
class TCaptionFrame : public QWidget {
 public:
  TCaptionFrame()
      : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                             Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
  }

 protected:
  // Only the outline and the caption bar show, with or without a compositor.
  void resizeEvent(QResizeEvent*) override {
    const QRect inner = rect().adjusted(2, std::min(height(), BarHeight), -2, -2);
    setMask(inner.isEmpty() ? QRegion(rect()) : QRegion(rect()).subtracted(QRegion(inner)));
  }

  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QColor colour = palette().color(QPalette::Highlight);
    p.setPen(QPen(colour, 2));
    p.drawRect(rect().adjusted(1, 1, -1, -1));
    p.fillRect(QRect(0, 0, width(), std::min(height(), BarHeight)), colour);
  }
};

}  // namespace

QWidget* AnimateCaption(const QRect& from, const QRect& to) {
  if (from.isEmpty() || to.isEmpty()) return nullptr;
  auto* frame = new TCaptionFrame;
  frame->setGeometry(from);
  auto* flight = new QPropertyAnimation(frame, "geometry", frame);
  flight->setDuration(FlightMs);
  flight->setStartValue(from);
  flight->setEndValue(to);
  flight->setEasingCurve(QEasingCurve::InOutQuad);
  QObject::connect(flight, &QPropertyAnimation::finished, frame, &QWidget::close);
  frame->show();
  flight->start();
  return frame;
}

}  // namespace ombrix
