// The text front end's side of the core: after each tick it prints the chosen view as a
// table, then the four indicator texts.
#pragma once
#include <cstdio>
#include <string>

#include "monitor/cli/CliOptions.h"
#include "monitor/shell/MonitorCore.h"

namespace ombrix {

class TCliFrontEnd : public TFrontEnd {
 public:
  TCliFrontEnd(TCliOptions options, std::FILE* out);
  void SetCore(TMonitorCore* core) { core_ = core; }

  void SetStatusText(const std::string& text) override;
  void RefreshGrid() override;
  void ShowNotice(const std::string& text) override;
  void ShowError(const std::string& text) override;

  // The table of the view and the indicator texts, as printed after a tick.
  std::string ViewText();
  std::string IndicatorText();

 protected:
  TMonitorCore& Core() const { return *core_; }

 private:
  TCliOptions options_;
  int sortColumn_ = 0;
  std::FILE* out_;
  TMonitorCore* core_ = nullptr;
};

}  // namespace ombrix
