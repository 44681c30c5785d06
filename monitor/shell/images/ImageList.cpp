#include "monitor/shell/images/ImageList.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace ombrix {

namespace {

// Outlines sit on half pixels so that one-pixel strokes land on whole pixels at ratio 1.
QPen Outline(const QColor& colour, qreal width = 1.0) {
  QPen pen(colour, width);
  pen.setJoinStyle(Qt::MiterJoin);
  return pen;
}

void PaintWindow(QPainter& p) {
  p.setPen(Outline(QColor(40, 60, 110)));
  p.setBrush(QColor(250, 250, 252));
  p.drawRect(QRectF(1.5, 2.5, 13, 11));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(50, 100, 200));
  p.drawRect(QRectF(2, 3, 12, 3));
  p.setBrush(QColor(255, 255, 255));
  p.drawRect(QRectF(11, 4, 2, 1));
  p.setBrush(QColor(200, 210, 225));
  p.drawRect(QRectF(3, 8, 5, 1));
  p.drawRect(QRectF(3, 10, 8, 1));
}

void PaintDisk(QPainter& p) {
  const QColor body(150, 155, 165), dark(70, 75, 85), top(205, 210, 218);
  QPainterPath side;
  side.moveTo(2.5, 5);
  side.lineTo(2.5, 11.5);
  side.arcTo(QRectF(2.5, 9, 11, 5), 180, 180);
  side.lineTo(13.5, 5);
  side.closeSubpath();
  p.setPen(Outline(dark));
  p.setBrush(body);
  p.drawPath(side);
  p.setBrush(top);
  p.drawEllipse(QRectF(2.5, 2.5, 11, 5));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(60, 200, 90));
  p.drawEllipse(QRectF(10.5, 10, 2, 2));
}

void PaintDocument(QPainter& p) {
  QPainterPath page;
  page.moveTo(3.5, 1.5);
  page.lineTo(9.5, 1.5);
  page.lineTo(12.5, 4.5);
  page.lineTo(12.5, 14.5);
  page.lineTo(3.5, 14.5);
  page.closeSubpath();
  p.setPen(Outline(QColor(90, 95, 105)));
  p.setBrush(QColor(255, 255, 255));
  p.drawPath(page);
  QPainterPath fold;
  fold.moveTo(9.5, 1.5);
  fold.lineTo(9.5, 4.5);
  fold.lineTo(12.5, 4.5);
  p.setBrush(QColor(225, 228, 235));
  p.drawPath(fold);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 140, 180));
  for (int y = 6; y <= 12; y += 2) p.drawRect(QRectF(5, y, y == 12 ? 4 : 6, 1));
}

void PaintNetworkCard(QPainter& p) {
  p.setPen(Outline(QColor(20, 80, 40)));
  p.setBrush(QColor(40, 150, 80));
  p.drawRect(QRectF(1.5, 3.5, 13, 8));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(215, 175, 40));  // edge connector
  for (int x = 3; x <= 11; x += 2) p.drawRect(QRectF(x, 12, 1, 2));
  p.setBrush(QColor(30, 30, 35));  // controller chip
  p.drawRect(QRectF(4, 5, 4, 4));
  p.setBrush(QColor(190, 195, 200));  // socket on the bracket
  p.drawRect(QRectF(10, 5, 3, 4));
  p.setBrush(QColor(60, 60, 65));
  p.drawRect(QRectF(11, 6, 1, 2));
}

void PaintCable(QPainter& p) {
  QPainterPath cable;
  cable.moveTo(1.5, 14.5);
  cable.cubicTo(4, 14.5, 3, 8, 7.5, 8.5);
  p.setPen(QPen(QColor(40, 90, 170), 2.0, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawPath(cable);
  p.setPen(Outline(QColor(60, 65, 75)));
  p.setBrush(QColor(225, 228, 235));
  p.drawRect(QRectF(7.5, 5.5, 5, 6));  // plug body
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(215, 175, 40));  // contacts
  for (int y = 6; y <= 10; y += 2) p.drawRect(QRectF(13, y, 2, 1));
}

void PaintDisc(QPainter& p, const QColor& colour) {
  QRadialGradient shade(QPointF(6.5, 6), 8);
  shade.setColorAt(0, colour.lighter(160));
  shade.setColorAt(0.6, colour);
  shade.setColorAt(1, colour.darker(130));
  p.setPen(Outline(colour.darker(190)));
  p.setBrush(shade);
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
}

// Not one of the list's images: drawn through the same engine under an index of its own.
constexpr int ProgramImage = -1;

void PaintProgram(QPainter& p) {
  p.setPen(Outline(QColor(30, 45, 80)));
  p.setBrush(QColor(20, 40, 75));
  p.drawRoundedRect(QRectF(0.5, 1.5, 15, 11), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(90, 95, 105));  // the stand
  p.drawRect(QRectF(6, 13, 4, 1));
  p.drawRect(QRectF(4, 14, 8, 1.5));
  QPainterPath load;
  load.moveTo(2, 9.5);
  for (const QPointF& point : {QPointF(4.5, 9.5), QPointF(6, 5), QPointF(8, 10), QPointF(10, 4),
                               QPointF(12, 7.5), QPointF(14, 7.5)})
    load.lineTo(point);
  p.setPen(QPen(QColor(80, 230, 110), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(load);
}

class TImageEngine : public QIconEngine {
 public:
  explicit TImageEngine(int index) : index_(index) {}
  QIconEngine* clone() const override { return new TImageEngine(index_); }
  QString key() const override { return QStringLiteral("ombrix.imagelist"); }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(rect.topLeft());
    painter->scale(rect.width() / qreal(ImageSize), rect.height() / qreal(ImageSize));
    if (mode == QIcon::Disabled) painter->setOpacity(0.4);
    if (index_ == ProgramImage) {
      PaintProgram(*painter);
    } else {
      PaintImage(*painter, index_);
    }
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return scaledPixmap(size, mode, state, 1.0);
  }

  // Size is in device pixels here; the drawing is laid out in logical ones.
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                       qreal scale) override {
    QPixmap image(size);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(scale);
    QPainter painter(&image);
    paint(&painter, QRect(QPoint(0, 0), (QSizeF(size) / scale).toSize()), mode, state);
    return image;
  }

  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }

 private:
  int index_;
};

}  // namespace

void PaintImage(QPainter& painter, int index) {
  switch (index) {
    case imWindow:
      PaintWindow(painter);
      break;
    case imDisk:
      PaintDisk(painter);
      break;
    case imDocument:
      PaintDocument(painter);
      break;
    case imNetworkCard:
      PaintNetworkCard(painter);
      break;
    case imCable:
      PaintCable(painter);
      break;
    case imGreen:
      PaintDisc(painter, QColor(40, 180, 60));
      break;
    case imYellow:
      PaintDisc(painter, QColor(240, 200, 20));
      break;
    case imRed:
      PaintDisc(painter, QColor(220, 40, 30));
      break;
    default:
      break;
  }
}

QIcon ImageListIcon(int index) {
  return QIcon(new TImageEngine(index));
}

QIcon ProgramIcon() {
  return QIcon(new TImageEngine(ProgramImage));
}

QPixmap ImageListPixmap(int index, qreal devicePixelRatio) {
  return ImageListIcon(index).pixmap(QSize(ImageSize, ImageSize), devicePixelRatio);
}

}  // namespace ombrix
