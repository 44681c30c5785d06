#include "monitor/shell/images/ImageList.h"

#include <gtest/gtest.h>

#include <QImage>
#include <set>

namespace {

using namespace ombrix;

// How many pixels of the image are not fully transparent.
int Inked(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) > 0;
  return n;
}

TEST(ImageList, EveryImageIsDrawnAndNoTwoAlike) {
  std::set<QByteArray> seen;
  for (int i = 0; i < ImageCount; ++i) {
    const QImage image = ImageListPixmap(i).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(16, 16)) << i;
    EXPECT_GT(Inked(image), 40) << i;
    seen.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(ImageCount));
  EXPECT_EQ(Inked(ImageListPixmap(ImageCount).toImage()), 0);
}

TEST(ImageList, TheProgramIconIsDrawnAndIsNoneOfTheImages) {
  const QImage icon =
      ProgramIcon().pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(icon.size(), QSize(16, 16));
  EXPECT_GT(Inked(icon), 100);
  for (int i = 0; i < ImageCount; ++i)
    EXPECT_NE(icon, ImageListPixmap(i).toImage().convertToFormat(QImage::Format_ARGB32)) << i;
}

TEST(ImageList, HighPixelRatiosRenderAtFullResolution) {
  const QPixmap sharp = ImageListPixmap(imGreen, 2.0);
  EXPECT_EQ(sharp.size(), QSize(32, 32));
  EXPECT_DOUBLE_EQ(sharp.devicePixelRatio(), 2.0);
  // A real 32-pixel drawing has more distinct colours than an upscaled 16-pixel one would
  // show along the rim; at least it inks about four times the pixels.
  const int one = Inked(ImageListPixmap(imGreen, 1.0).toImage());
  const int two = Inked(sharp.toImage());
  EXPECT_GT(two, 3 * one);
}

TEST(ImageList, DiscsAreGreenYellowAndRedAtTheirCentres) {
  const QColor green = ImageListPixmap(imGreen).toImage().pixelColor(8, 9);
  const QColor yellow = ImageListPixmap(imYellow).toImage().pixelColor(8, 9);
  const QColor red = ImageListPixmap(imRed).toImage().pixelColor(8, 9);
  EXPECT_GT(green.green(), green.red() + 50);
  EXPECT_GT(yellow.red(), 150);
  EXPECT_GT(yellow.green(), 150);
  EXPECT_LT(yellow.blue(), 120);
  EXPECT_GT(red.red(), red.green() + 80);
}

}  // namespace
