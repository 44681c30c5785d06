#include "monitor/shell/views/ViewColumns.h"

#include <array>
#include <vector>

#include "monitor/model/Info.h"
#include "monitor/shell/views/ViewFormat.h"

namespace ombrix {

namespace {

struct TViewTitles {
  const char* Caption;
  std::vector<const char*> Columns;
};

const std::array<TViewTitles, ViewCount>& Views() {
  static const std::array<TViewTitles, ViewCount> views{{
      {"Ombrix - Processes",
       {"Process Name", "Processor", "CxtSwtchs/Sec", "Working Set", "Private Bytes", "IOs/Sec",
        "IO Bytes/Sec", "Packets/Sec", "IP Bytes/Sec", "RegAccess/Sec", "Threads"}},
      {"Ombrix - Disks",
       {"Disk Name", "Free Space", "Busy Percent", "IOs/Sec", "Bytes/Sec", "Queue Depth"}},
      {"Ombrix - Files", {"File Name", "Process", "IOs/Sec", "Bytes/Sec", "Avg Resp", "Idle Time"}},
      {"Ombrix - Adapters",
       {"Adapter Name", "Bandwidth", "Packets/Sec", "Bytes/Sec", "Errors/Sec"}},
      {"Ombrix - Sockets",
       {"Service Name", "Remote Host", "Process", "Packets/Sec", "Bytes/Sec", "Idle Time"}},
  }};
  return views;
}

TCell Text(const std::string& text) {
  return {QString::fromStdString(text), 1, false, false};
}

TCell Number(const QString& text, double value) {
  return {text, value, true, false};
}

TCell Plain(double value, const QLocale& locale) {
  return Number(FormatPlain(value, locale), value);
}

TCell Percent(double value, const QLocale& locale) {
  return Number(FormatPercent(value, locale), value);
}

TCell ProcessCell(TProcessInfo& p, int column, const QLocale& locale) {
  // The pseudo processes have no figures of their own beyond processor time and, once
  // counted, their I/O rate.
  if (p.Permanent && column >= 2) {
    if (column == 5 && p.IoRateAvg.SampleCount() > 0) return Plain(p.IoRateAvg.Mean(), locale);
    return {};
  }
  switch (column) {
    case 1:
      return Percent(p.ProcessorAvg.Mean(), locale);
    case 2:
      return Plain(p.ContextSwitchRateAvg.Mean(), locale);
    case 3:
      return Number(FormatKilobytes(p.WorkingSetAvg.Mean(), locale), p.WorkingSetAvg.Mean());
    case 4: {
      const double bytes = p.PrivateBytesAvg.Mean();
      if (!(bytes > 0)) return {};
      return Number(FormatKilobytes(bytes, locale), bytes);
    }
    case 5:
      return Plain(p.IoRateAvg.Mean(), locale);
    case 6:
      return Plain(p.IoByteRateAvg.Mean(), locale);
    case 7:
      return Plain(p.PacketRateAvg.Mean(), locale);
    case 8:
      return Plain(p.IpByteRateAvg.Mean(), locale);
    case 9:
      return Plain(p.RegistryRateAvg.Mean(), locale);
    case 10:
      return Number(FormatInteger(p.ThreadCount), p.ThreadCount);
    default:
      return {};
  }
}

TCell DiskCell(TDiskInfo& d, int column, const QLocale& locale) {
  switch (column) {
    case 1:
      return Percent(d.FreeSpaceAvg.Mean(), locale);
    case 2:
      return Percent(d.BusyPercentAvg.Mean(), locale);
    case 3:
      return Plain(d.IoRateAvg.Mean(), locale);
    case 4:
      return Plain(d.ByteRateAvg.Mean(), locale);
    case 5:
      return Plain(d.QueueDepthAvg.Mean(), locale);
    default:
      return {};
  }
}

TCell FileCell(TFileInfo& f, int column, bool overall, const QLocale& locale) {
  switch (column) {
    case 1:
      return Text(f.ProcessName());
    case 2:
      return Plain(overall ? f.OverallIoRate() : f.IoRateAvg.Mean(), locale);
    case 3:
      return Plain(overall ? f.OverallByteRate() : f.ByteRateAvg.Mean(), locale);
    case 4:
      return Plain(overall ? f.OverallResponse() : f.ResponseAvg.Mean(), locale);
    case 5: {
      const std::uint32_t idle = f.IdleTime();
      return Number(FormatDuration(idle), idle);
    }
    default:
      return {};
  }
}

TCell AdapterCell(TAdapterInfo& a, int column, const QLocale& locale) {
  switch (column) {
    case 1:
      return Number(FormatBandwidth(a.Bandwidth), static_cast<double>(a.Bandwidth));
    case 2:
      return Plain(a.PacketRateAvg.Mean(), locale);
    case 3:
      return Plain(a.ByteRateAvg.Mean(), locale);
    case 4:
      return Plain(a.ErrorRateAvg.Mean(), locale);
    default:
      return {};
  }
}

TCell SocketCell(TSocketInfo& s, int column, bool overall, const QLocale& locale) {
  switch (column) {
    case 1:
      return Text(s.RemoteHostName());
    case 2:
      return Text(s.ProcessName());
    case 3:
      return Plain(overall ? s.OverallPacketRate() : s.PacketRateAvg.Mean(), locale);
    case 4:
      return Plain(overall ? s.OverallByteRate() : s.ByteRateAvg.Mean(), locale);
    case 5: {
      const std::uint32_t idle = s.IdleTime();
      return Number(FormatDuration(idle), idle);
    }
    default:
      return {};
  }
}

// The expected extremes: every percentage up to 100, rates up to ten million a second (disk
// and network bytes up to ten thousand million), memory up to 99,999,999 K, up to 99,999
// threads, adapters up to 100 Gb, idle times up to 99 hours.
constexpr double Percent100 = 100;
constexpr double Rate = 9999999.99;
constexpr double SmallRate = 99999.99;
constexpr double ByteRate = 9999999999.99;
constexpr double Kilobytes = 99999999.0 * 1024;
constexpr std::uint32_t LongIdle = 99 * 3600000u + 59 * 60000u + 59000u;

QString ProcessFigure(int column, const QLocale& locale) {
  switch (column) {
    case 1:
      return FormatPercent(Percent100, locale);
    case 3:
    case 4:
      return FormatKilobytes(Kilobytes, locale);
    case 10:
      return FormatInteger(99999);
    default:
      return FormatPlain(Rate, locale);
  }
}

QString DiskFigure(int column, const QLocale& locale) {
  if (column == 1 || column == 2) return FormatPercent(Percent100, locale);
  return FormatPlain(column == 4 ? ByteRate : SmallRate, locale);
}

QString FileFigure(int column, const QLocale& locale) {
  if (column == 1) return {};
  if (column == 5) return FormatDuration(LongIdle);
  return FormatPlain(column == 3 ? ByteRate : SmallRate, locale);
}

QString AdapterFigure(int column, const QLocale& locale) {
  if (column == 1) return FormatBandwidth(100000000000);
  return FormatPlain(column == 3 ? ByteRate : column == 2 ? Rate : SmallRate, locale);
}

QString SocketFigure(int column, const QLocale& locale) {
  if (column <= 2) return {};
  if (column == 5) return FormatDuration(LongIdle);
  return FormatPlain(column == 4 ? ByteRate : Rate, locale);
}

}  // namespace

QString WidestFigure(int view, int column, const QLocale& locale) {
  if (column < 1 || column >= ViewColumnCount(view)) return {};
  switch (view) {
    case vwProcesses:
      return ProcessFigure(column, locale);
    case vwDisks:
      return DiskFigure(column, locale);
    case vwFiles:
      return FileFigure(column, locale);
    case vwAdapters:
      return AdapterFigure(column, locale);
    default:
      return SocketFigure(column, locale);
  }
}

QString ViewCaption(int view) {
  if (view < 0 || view >= ViewCount) return {};
  return QString::fromLatin1(Views()[static_cast<std::size_t>(view)].Caption);
}

int ViewColumnCount(int view) {
  if (view < 0 || view >= ViewCount) return 0;
  return static_cast<int>(Views()[static_cast<std::size_t>(view)].Columns.size());
}

QString ColumnTitle(int view, int column) {
  if (column < 0 || column >= ViewColumnCount(view)) return QStringLiteral("<error>");
  const auto& columns = Views()[static_cast<std::size_t>(view)].Columns;
  return QString::fromLatin1(columns[static_cast<std::size_t>(column)]);
}

TCell CellContent(TInfo& entity, int view, int column, bool overall, const QLocale& locale) {
  if (column < 0 || column >= ViewColumnCount(view)) return {};
  if (column == 0) return Text(entity.GetName());
  switch (view) {
    case vwProcesses:
      if (auto* p = dynamic_cast<TProcessInfo*>(&entity)) return ProcessCell(*p, column, locale);
      break;
    case vwDisks:
      if (auto* d = dynamic_cast<TDiskInfo*>(&entity)) return DiskCell(*d, column, locale);
      break;
    case vwFiles:
      if (auto* f = dynamic_cast<TFileInfo*>(&entity)) return FileCell(*f, column, overall, locale);
      break;
    case vwAdapters:
      if (auto* a = dynamic_cast<TAdapterInfo*>(&entity)) return AdapterCell(*a, column, locale);
      break;
    case vwSockets:
      if (auto* s = dynamic_cast<TSocketInfo*>(&entity))
        return SocketCell(*s, column, overall, locale);
      break;
    default:
      break;
  }
  return {};
}

}  // namespace ombrix
