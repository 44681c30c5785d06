#include "monitor/shell/views/ViewFormat.h"

#include <gtest/gtest.h>

#include <QTime>

namespace {

using namespace ombrix;

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

TEST(CellFormats, PlainNumbersTakeTwoDecimalsAndTheLocalesSeparators) {
  EXPECT_EQ(FormatPlain(0, English), "0.00");
  EXPECT_EQ(FormatPlain(1234567.891, English), "1,234,567.89");
  EXPECT_EQ(FormatPlain(1234567.891, German), "1.234.567,89");
  EXPECT_EQ(FormatPlain(-12.5, English), "-12.50");
}

TEST(CellFormats, PercentHasNoThousandsSeparatorButTheLocalesDecimalSign) {
  EXPECT_EQ(FormatPercent(0, English), "0.00%");
  EXPECT_EQ(FormatPercent(99.999, English), "100.00%");
  EXPECT_EQ(FormatPercent(1234.5, English), "1234.50%");
  EXPECT_EQ(FormatPercent(12.345678, German), "12,35%");
}

TEST(CellFormats, KilobytesAreRoundedWholeUnitsOf1024) {
  EXPECT_EQ(FormatKilobytes(0, English), "0 K");
  EXPECT_EQ(FormatKilobytes(1024, English), "1 K");
  EXPECT_EQ(FormatKilobytes(1535, English), "1 K");
  EXPECT_EQ(FormatKilobytes(1537, English), "2 K");
  EXPECT_EQ(FormatKilobytes(1024.0 * 1234567, English), "1,234,567 K");
  EXPECT_EQ(FormatKilobytes(1024.0 * 1234567, German), "1.234.567 K");
}

TEST(CellFormats, BandwidthStepsAtThousandsWithIntegerDivision) {
  EXPECT_EQ(FormatBandwidth(0), "0 b");
  EXPECT_EQ(FormatBandwidth(999), "999 b");
  EXPECT_EQ(FormatBandwidth(1000), "1 Kb");
  EXPECT_EQ(FormatBandwidth(999999), "999 Kb");
  EXPECT_EQ(FormatBandwidth(1000000), "1 Mb");
  EXPECT_EQ(FormatBandwidth(100000000), "100 Mb");
  EXPECT_EQ(FormatBandwidth(10000000000), "10000 Mb");
}

TEST(CellFormats, DurationsAreHoursMinutesSecondsWithLeadingZeros) {
  EXPECT_EQ(FormatDuration(0), "00:00:00");
  EXPECT_EQ(FormatDuration(999), "00:00:00");
  EXPECT_EQ(FormatDuration(3725000), "01:02:05");
  EXPECT_EQ(FormatDuration(59999), "00:00:59");
  EXPECT_EQ(FormatDuration(360000000), "100:00:00");
  EXPECT_EQ(FormatDuration(0xFFFFFFFFu), "1193:02:47");
}

TEST(CellFormats, IntegersAreWrittenAsTheyAre) {
  EXPECT_EQ(FormatInteger(0), "0");
  EXPECT_EQ(FormatInteger(123456), "123456");
  EXPECT_EQ(FormatInteger(-7), "-7");
}

TEST(CellColours, BackgroundsAlternateBelowTheHeaderAndSelectionWins) {
  EXPECT_EQ(CellBackground(0, false), TCellColour::ButtonFace);
  EXPECT_EQ(CellBackground(0, true), TCellColour::ButtonFace);
  EXPECT_EQ(CellBackground(1, false), TCellColour::Window);
  EXPECT_EQ(CellBackground(2, false), TCellColour::InfoBackground);
  EXPECT_EQ(CellBackground(3, false), TCellColour::Window);
  EXPECT_EQ(CellBackground(2, true), TCellColour::Highlight);
}

TEST(CellColours, SortColumnIsBlueDescendingAndMaroonAscendingPaleForZero) {
  EXPECT_EQ(CellTextColour(2, 5, false, 3.5, 2, true), TCellColour::SortBlue);
  EXPECT_EQ(CellTextColour(2, 5, false, 0, 2, true), TCellColour::SortLightBlue);
  EXPECT_EQ(CellTextColour(2, 5, false, -1, 2, true), TCellColour::SortLightBlue);
  EXPECT_EQ(CellTextColour(2, 5, false, 0.01, 2, false), TCellColour::SortMaroon);
  EXPECT_EQ(CellTextColour(2, 5, false, 0, 2, false), TCellColour::SortLightRed);
  // The header cell of the sort column takes the sort colours; its title counts as 1.
  EXPECT_EQ(CellTextColour(2, 0, false, 1, 2, true), TCellColour::SortBlue);
  EXPECT_EQ(CellTextColour(2, 0, true, 1, 2, false), TCellColour::SortMaroon);
}

TEST(CellColours, OtherCellsAreDimAtZeroAndSelectedDataCellsHighlighted) {
  EXPECT_EQ(CellTextColour(1, 3, false, 5, 2, true), TCellColour::WindowText);
  EXPECT_EQ(CellTextColour(1, 3, false, 0, 2, true), TCellColour::GrayText);
  EXPECT_EQ(CellTextColour(2, 3, true, 5, 2, true), TCellColour::HighlightedText);
  EXPECT_EQ(CellTextColour(1, 3, true, 0, 2, true), TCellColour::HighlightedText);
}

TEST(CellColours, TheFixedColoursAreTheDesignedOnes) {
  TRgb rgb{};
  ASSERT_TRUE(FixedColour(TCellColour::SortBlue, rgb));
  EXPECT_EQ(rgb, (TRgb{0, 0, 255}));
  ASSERT_TRUE(FixedColour(TCellColour::SortLightBlue, rgb));
  EXPECT_EQ(rgb, (TRgb{166, 202, 240}));
  ASSERT_TRUE(FixedColour(TCellColour::SortMaroon, rgb));
  EXPECT_EQ(rgb, (TRgb{128, 0, 0}));
  ASSERT_TRUE(FixedColour(TCellColour::SortLightRed, rgb));
  EXPECT_EQ(rgb, (TRgb{255, 196, 196}));
  EXPECT_FALSE(FixedColour(TCellColour::WindowText, rgb));
}

TEST(ClockFormat, TheZoneIsDroppedWhereverItStands) {
  EXPECT_EQ(TimeFormatWithoutZone("h:mm:ss AP t"), "h:mm:ss AP");
  EXPECT_EQ(TimeFormatWithoutZone("HH:mm:ss tttt"), "HH:mm:ss");
  EXPECT_EQ(TimeFormatWithoutZone("t HH:mm:ss"), "HH:mm:ss");
  EXPECT_EQ(TimeFormatWithoutZone("HH 'h' mm 'et' ss t"),
            "HH 'h' mm 'et' ss");  // quoted text stays
  EXPECT_EQ(TimeFormatWithoutZone("HH:mm:ss"), "HH:mm:ss");
  // The system's own long format, whatever it is, loses its zone and keeps the seconds.
  const QString own =
      TimeFormatWithoutZone(QLocale(QLocale::English).timeFormat(QLocale::LongFormat));
  const QString shown = QTime(12, 31, 16).toString(own);
  EXPECT_TRUE(shown.startsWith("12:31:16")) << shown.toStdString();
  EXPECT_FALSE(shown.contains("UTC")) << shown.toStdString();
}

}  // namespace
