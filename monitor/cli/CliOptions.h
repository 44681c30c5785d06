// The text front end's command line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ombrix {

// The port --serve listens on when none is given.
inline constexpr int DefaultServePort = 10090;
inline constexpr std::int64_t DefaultTop = 10;

struct TCliOptions {
  int View = 0;               // 0 Processes .. 4 Sockets
  std::int32_t Interval = 0;  // milliseconds; 0 takes the settings' interval
  std::int64_t Samples = 0;   // 0 runs until interrupted
  std::string SortColumn;     // a column number or title; empty sorts by the first column
  bool Descending = false;
  bool Overall = false;
  bool Stats = false;
  bool Help = false;
  // --history: the minutes recorded from Since to Until (WHEN texts), then the end.
  bool History = false;
  std::string Since;
  std::string Until;
  std::string Serve;              // "ADDRESS:PORT" to serve metrics on; empty prints the view
  std::int64_t Top = DefaultTop;  // files and sockets served
};

// Fills options from the arguments (without the program name); false with a message for
// an unknown option or a bad value.
bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options,
                     std::string& error);
std::string CliUsage();

// The listening address of --serve from "[ADDRESS:]PORT": an IPv4 address, 127.0.0.1 when
// left out, and a port, 0 for any free one; empty text gives the default port. False with a
// message for anything else.
bool ParseServeAddress(const std::string& text, std::string& address, std::string& error);

// The column a --sort value names in a view: its number, or its title without regard to
// case; -1 when it names none.
int ResolveSortColumn(const std::string& value, int view);

}  // namespace ombrix
