#include "monitor/shell/ErrorBox.h"

#include <cstdio>
#include <utility>

namespace ombrix {

TErrorBox::TErrorBox(Sink show, Sink log) : show_(std::move(show)), log_(std::move(log)) {
  if (!log_) log_ = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
}

void TErrorBox::Report(const std::string& text) {
  if (open_ || !show_) {
    log_(text);
    return;
  }
  open_ = true;
  try {
    show_(text);
  } catch (...) {
    open_ = false;
    throw;
  }
  open_ = false;
}

}  // namespace ombrix
