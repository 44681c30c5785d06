// The application's error box, one at a time. Timers keep firing inside a modal box, so an
// error that repeats on every tick would otherwise stack a new box on the desktop each
// period; while a box is open, further errors go to the error stream instead.
#pragma once
#include <functional>
#include <string>
#include <utility>

namespace ombrix {

class TErrorBox {
 public:
  using Sink = std::function<void(const std::string& text)>;

  // show opens the box and returns when the user closes it; log takes the errors raised
  // meanwhile (standard error by default).
  explicit TErrorBox(Sink show, Sink log = {});

  void Report(const std::string& text);
  void SetLog(Sink log) { log_ = std::move(log); }
  bool IsOpen() const { return open_; }

 private:
  Sink show_;
  Sink log_;
  bool open_ = false;
};

}  // namespace ombrix
