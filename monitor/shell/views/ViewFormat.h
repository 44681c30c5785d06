// How the grid writes its numbers and chooses its colours. Plain functions, shared by the
// window's grid, the text front end and the tests; numbers follow the given locale's
// separators (the system's by default).
#pragma once
#include <QLocale>
#include <QString>
#include <cstdint>

namespace ombrix {

// Two decimals with thousands separators, no leading blanks ("1,234.50").
QString FormatPlain(double value, const QLocale& locale = QLocale());
// Two decimals and a percent sign, no thousands separators ("12.50%").
QString FormatPercent(double value, const QLocale& locale = QLocale());
// Bytes as whole kilobytes (1,024) with thousands separators, then " K" ("1,234 K").
QString FormatKilobytes(double bytes, const QLocale& locale = QLocale());
// A whole number in decimal, as it is.
QString FormatInteger(std::int64_t value);
// Bits per second as " b", " Kb" or " Mb" (steps of 1,000, integer division).
QString FormatBandwidth(std::int64_t bitsPerSecond);
// Milliseconds as hh:mm:ss; hours may take more than two digits.
QString FormatDuration(std::uint32_t milliseconds);

// A time format without its time zone ("h:mm:ss AP t" gives "h:mm:ss AP"): the clock shows
// local time, and the zone's name only widens it.
QString TimeFormatWithoutZone(const QString& format);

// The colours a cell is drawn in: system roles, which the grid takes from its palette, and
// the fixed colours of the sort column.
enum class TCellColour {
  ButtonFace,
  Highlight,
  Window,
  InfoBackground,
  HighlightedText,
  WindowText,
  GrayText,
  SortBlue,       // descending sort column, value above 0
  SortLightBlue,  // descending sort column, 0 or below
  SortMaroon,     // ascending sort column, value above 0
  SortLightRed,   // ascending sort column, 0 or below
};

struct TRgb {
  int Red, Green, Blue;
  bool operator==(const TRgb&) const = default;
};

// The fixed colours; system roles have none (answers false).
bool FixedColour(TCellColour colour, TRgb& rgb);

// Background of grid cell (row 0 is the header); the whole cell is filled with it.
TCellColour CellBackground(int row, bool selected);

// Text colour of a cell showing value (text cells count as 1).
TCellColour CellTextColour(int column, int row, bool selected, double value, int sortColumn,
                           bool sortDescending);

}  // namespace ombrix
