#include "monitor/cli/ServeFrontEnd.h"

#include <string>

namespace ombrix {

TServeFrontEnd::TServeFrontEnd(const TCliOptions& options, std::FILE* out)
    : TCliFrontEnd(options, out),
      server_(options.Serve, exporter_),
      feed_(*exporter_, static_cast<std::size_t>(options.Top)) {
  const std::string host = options.Serve.substr(0, options.Serve.rfind(':'));
  std::fprintf(out, "Serving metrics at http://%s:%d/metrics\n", host.c_str(), server_.Port());
  std::fflush(out);
}

void TServeFrontEnd::UpdateIndicatorTexts() {
  feed_.BeforeClose(Core());
}

void TServeFrontEnd::RefreshGrid() {
  feed_.Publish(Core());
}

std::unique_ptr<TCliFrontEnd> MakeFrontEnd(const TCliOptions& options, std::FILE* out) {
  if (options.Serve.empty()) return std::make_unique<TCliFrontEnd>(options, out);
  return std::make_unique<TServeFrontEnd>(options, out);
}

}  // namespace ombrix
