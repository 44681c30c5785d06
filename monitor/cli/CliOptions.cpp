#include "monitor/cli/CliOptions.h"

#include <charconv>

#include "monitor/cli/HistoryReport.h"
#include "monitor/shell/views/ViewColumns.h"

namespace ombrix {

namespace {

const char* const ViewNames[] = {"processes", "disks", "files", "adapters", "sockets"};

bool ParseNumber(const std::string& text, std::int64_t low, std::int64_t high,
                 std::int64_t& value) {
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && at == end && !text.empty() && value >= low && value <= high;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool IsIpv4Address(const std::string& text) {
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = text.find('.', start);
    if ((dot == std::string::npos) != (part == 3)) return false;
    const std::string number = text.substr(start, dot - start);
    std::int64_t value = 0;
    if (number.size() > 3 || !ParseNumber(number, 0, 255, value)) return false;
    start = dot + 1;
  }
  return true;
}

// The view options say how to print a table, which --serve does not; --top only says what
// to serve.
bool CheckServeOptions(const TCliOptions& options, bool topGiven, std::string& error) {
  if (options.Serve.empty()) {
    if (topGiven) error = "--top goes with --serve";
    return !topGiven;
  }
  const bool viewOptions =
      options.View != 0 || !options.SortColumn.empty() || options.Descending || options.Overall;
  if (viewOptions)
    error =
        "--serve prints no view: --view, --sort, --descending and --overall "
        "do not go with it";
  return !viewOptions;
}

}  // namespace

bool ParseServeAddress(const std::string& text, std::string& address, std::string& error) {
  const std::size_t colon = text.rfind(':');
  const std::string host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
  std::int64_t number = DefaultServePort;
  if (!IsIpv4Address(host) || (!text.empty() && !ParseNumber(port, 0, 65535, number))) {
    error = "--serve takes [ADDRESS:]PORT, an IPv4 address and a port from 0 to 65535 (\"" + text +
            "\")";
    return false;
  }
  address = host + ":" + std::to_string(number);
  return true;
}

bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options,
                     std::string& error) {
  bool topGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string text;
    std::int64_t number = 0;
    if (arg == "--serve") {
      // The value may be left out: the default port, on this machine only.
      if (i + 1 < args.size() && !args[i + 1].starts_with("--")) text = args[++i];
      if (!ParseServeAddress(text, options.Serve, error)) return false;
    } else if (arg == "--top") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 1, 1000, number)) {
        error = "--top takes a count from 1 to 1000";
        return false;
      }
      options.Top = number;
      topGiven = true;
    } else if (arg == "--help" || arg == "-h") {
      options.Help = true;
    } else if (arg == "--descending") {
      options.Descending = true;
    } else if (arg == "--overall") {
      options.Overall = true;
    } else if (arg == "--stats") {
      options.Stats = true;
    } else if (arg == "--view") {
      if (!value(text)) return false;
      int found = -1;
      for (int v = 0; v < 5; ++v)
        if (SameText(text, ViewNames[v])) found = v;
      if (found < 0) {
        error = "unknown view \"" + text + "\" (processes, disks, files, adapters or sockets)";
        return false;
      }
      options.View = found;
    } else if (arg == "--interval") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 1, 3600000, number)) {
        error = "--interval takes milliseconds from 1 to 3600000";
        return false;
      }
      options.Interval = static_cast<std::int32_t>(number);
    } else if (arg == "--samples") {
      if (!value(text)) return false;
      if (!ParseNumber(text, 1, INT64_MAX, number)) {
        error = "--samples takes a count of at least 1";
        return false;
      }
      options.Samples = number;
    } else if (arg == "--sort") {
      if (!value(options.SortColumn)) return false;
    } else if (arg == "--history") {
      options.History = true;
    } else if (arg == "--since" || arg == "--until") {
      std::string& when = arg == "--since" ? options.Since : options.Until;
      if (!value(when)) return false;
      std::int64_t ms = 0;
      if (!ParseWhen(when, 0, false, ms)) {
        error = arg + " takes HH:MM, \"YYYY-MM-DD HH:MM\", or a time back such as -10m or -2h";
        return false;
      }
    } else {
      error = "unknown option \"" + arg + "\"";
      return false;
    }
  }
  if (options.History && !options.Serve.empty()) {
    error = "--history prints what was recorded and ends: --serve does not go with it";
    return false;
  }
  if (!options.History && !(options.Since.empty() && options.Until.empty())) {
    error = "--since and --until go with --history";
    return false;
  }
  if (!options.SortColumn.empty() && ResolveSortColumn(options.SortColumn, options.View) < 0) {
    error = "no column \"" + options.SortColumn + "\" in this view";
    return false;
  }
  return CheckServeOptions(options, topGiven, error);
}

int ResolveSortColumn(const std::string& value, int view) {
  const int columns = ViewColumnCount(view);
  std::int64_t number = 0;
  if (ParseNumber(value, 0, columns - 1, number)) return static_cast<int>(number);
  for (int c = 0; c < columns; ++c)
    if (SameText(value, ColumnTitle(view, c).toStdString())) return c;
  return -1;
}

std::string CliUsage() {
  return "Usage: ombrix-cli [--view processes|disks|files|adapters|sockets] [--interval MS]\n"
         "                  [--samples N] [--sort COLUMN] [--descending] [--overall] [--stats]\n"
         "       ombrix-cli --history [--since WHEN] [--until WHEN]\n"
         "       ombrix-cli --serve [[ADDRESS:]PORT] [--top N] [--interval MS] [--samples N]\n"
         "                  [--stats]\n"
         "\n"
         "Samples this machine like the Ombrix window and prints, after each sample, the\n"
         "chosen view as a table followed by the processor, memory, disk and network figures.\n"
         "With --serve it prints nothing and serves the figures of the last sample to\n"
         "Prometheus instead, at http://ADDRESS:PORT/metrics.\n"
         "\n"
         "  --view V        the view to print (default: processes)\n"
         "  --interval MS   milliseconds between samples (default: the settings' interval)\n"
         "  --samples N     stop after N samples (default: run until interrupted)\n"
         "  --sort COLUMN   sort by this column, given by number (from 0) or title\n"
         "  --descending    largest first\n"
         "  --overall       files and sockets: figures since they appeared\n"
         "  --stats         also print the kernel event figures and the sample's duration\n"
         "  --history       print the recorded history, one line per minute: the four\n"
         "                  figures and the busiest process of each, then end\n"
         "  --since WHEN    from WHEN (default: an hour ago); WHEN is HH:MM,\n"
         "                  \"YYYY-MM-DD HH:MM\" or a time back from now: -10m, -2h, -1d\n"
         "  --until WHEN    up to WHEN (default: now)\n"
         "  --serve [ADDRESS:]PORT\n"
         "                  serve the figures for Prometheus (default 127.0.0.1:" +
         std::to_string(DefaultServePort) +
         ").\n"
         "                  Only this machine can connect unless an address is given:\n"
         "                  0.0.0.0:PORT serves every network, without any password.\n"
         "                  Port 0 takes a free port; the address is printed at start\n"
         "  --top N         files and sockets served: the N busiest of each (default 10)\n"
         "  --help          this text\n"
         "\n"
         "Settings are read from Ombrix.ini beside the program (never written). Finished\n"
         "processes go to Ombrix.log when LogProcesses is on. Every sample goes to the\n"
         "history, Ombrix.history beside the log, for HistoryDays days (0: none), unless\n"
         "another Ombrix records it already.\n";
}

}  // namespace ombrix
