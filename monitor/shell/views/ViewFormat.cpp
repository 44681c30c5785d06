#include "monitor/shell/views/ViewFormat.h"

#include <cmath>

namespace ombrix {

namespace {

// The locale with and without group separators, made once per locale: a changed copy of a
// locale is an allocation, and a view formats thousands of figures a tick.
const QLocale& Variant(const QLocale& locale, bool groups) {
  struct TVariants {
    QLocale Base, With, Without;
    void Make(const QLocale& locale) {
      Base = locale;
      // The system locale asks the system for its symbols on every figure; the locale of the
      // same name formats alike from its own tables, at about half the cost.
      With = Without = locale == QLocale::system() ? QLocale(locale.name()) : locale;
      With.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
      Without.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    }
  };
  thread_local TVariants variants = [&] {
    TVariants v;
    v.Make(locale);
    return v;
  }();
  if (!(variants.Base == locale)) variants.Make(locale);
  return groups ? variants.With : variants.Without;
}

const QLocale& WithGroups(const QLocale& locale) {
  return Variant(locale, true);
}

const QLocale& WithoutGroups(const QLocale& locale) {
  return Variant(locale, false);
}

QString TwoDigits(std::uint32_t n) {
  return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

}  // namespace

QString FormatPlain(double value, const QLocale& locale) {
  return WithGroups(locale).toString(value, 'f', 2);
}

QString FormatPercent(double value, const QLocale& locale) {
  return WithoutGroups(locale).toString(value, 'f', 2) + QLatin1Char('%');
}

QString FormatKilobytes(double bytes, const QLocale& locale) {
  return WithGroups(locale).toString(bytes / 1024.0, 'f', 0) + QStringLiteral(" K");
}

QString FormatInteger(std::int64_t value) {
  return QString::number(value);
}

QString FormatBandwidth(std::int64_t bitsPerSecond) {
  if (bitsPerSecond < 1000) return QString::number(bitsPerSecond) + QStringLiteral(" b");
  if (bitsPerSecond < 1000000) return QString::number(bitsPerSecond / 1000) + QStringLiteral(" Kb");
  return QString::number(bitsPerSecond / 1000000) + QStringLiteral(" Mb");
}

QString FormatDuration(std::uint32_t milliseconds) {
  const std::uint32_t seconds = milliseconds / 1000;
  return TwoDigits(seconds / 3600) + QLatin1Char(':') + TwoDigits(seconds / 60 % 60) +
         QLatin1Char(':') + TwoDigits(seconds % 60);
}

bool FixedColour(TCellColour colour, TRgb& rgb) {
  switch (colour) {
    case TCellColour::SortBlue:
      rgb = {0, 0, 255};
      return true;
    case TCellColour::SortLightBlue:
      rgb = {166, 202, 240};
      return true;
    case TCellColour::SortMaroon:
      rgb = {128, 0, 0};
      return true;
    case TCellColour::SortLightRed:
      rgb = {255, 196, 196};
      return true;
    default:
      return false;
  }
}

TCellColour CellBackground(int row, bool selected) {
  if (row == 0) return TCellColour::ButtonFace;
  if (selected) return TCellColour::Highlight;
  return row % 2 != 0 ? TCellColour::Window : TCellColour::InfoBackground;
}

TCellColour CellTextColour(int column, int row, bool selected, double value, int sortColumn,
                           bool sortDescending) {
  const bool positive = value > 0;
  if (selected && row > 0) return TCellColour::HighlightedText;
  if (column == sortColumn) {
    if (sortDescending) return positive ? TCellColour::SortBlue : TCellColour::SortLightBlue;
    return positive ? TCellColour::SortMaroon : TCellColour::SortLightRed;
  }
  return positive ? TCellColour::WindowText : TCellColour::GrayText;
}

QString TimeFormatWithoutZone(const QString& format) {
  QString out;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (quoted || c != QLatin1Char('t')) {
      // Blanks that only led up to a dropped zone stay dropped.
      if (!(c == QLatin1Char(' ') && out.isEmpty())) out += c;
      continue;
    }
    while (out.endsWith(QLatin1Char(' '))) out.chop(1);
  }
  return out;
}

}  // namespace ombrix
