// Where the window and the settings dialog open relative to the tray click and the work area.
#include "monitor/shell/WindowPlacement.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

const QRect WorkArea(0, 0, 1280, 768);  // a 32-pixel panel below

TEST(WindowPlacementTest, RightEdgeAtTheClickBottomAboveThePanel) {
  EXPECT_EQ(MainWindowPlace({1200, 780}, {587, 415}, WorkArea), QRect(613, 351, 587, 415));
  EXPECT_EQ(DialogPlace({1200, 780}, {290, 415}, WorkArea), QRect(910, 351, 290, 415));
  // A panel at the top moves the work area down; its bottom is still the screen's.
  EXPECT_EQ(MainWindowPlace({900, 10}, {400, 300}, QRect(0, 32, 1280, 768)),
            QRect(500, 498, 400, 300));
}

TEST(WindowPlacementTest, WindowAndDialogStayInsideTheWorkArea) {
  // A tray near the left edge, and a window taller than the work area.
  EXPECT_EQ(MainWindowPlace({18, 780}, {587, 415}, WorkArea).topLeft(), QPoint(0, 351));
  EXPECT_EQ(MainWindowPlace({1200, 780}, {587, 900}, WorkArea).topLeft(), QPoint(613, 0));
  EXPECT_EQ(MainWindowPlace({18, 780}, {587, 415}, QRect(1280, 24, 1024, 744)).topLeft(),
            QPoint(1280, 351));
  EXPECT_EQ(DialogPlace({18, 780}, {290, 415}, WorkArea).topLeft(), QPoint(0, 351));
  EXPECT_EQ(DialogPlace({1200, 780}, {290, 900}, WorkArea).topLeft(), QPoint(910, 0));
}

TEST(WindowPlacementTest, FrameExtraIsNeverNegative) {
  EXPECT_EQ(FrameExtra(QRect(0, 0, 597, 440), QRect(5, 20, 587, 415)), QSize(10, 25));
  EXPECT_EQ(FrameExtra(QRect(), QRect(0, 0, 587, 415)), QSize(0, 0));
}

}  // namespace
}  // namespace ombrix
