// A window stand-in that records what the steps show.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "setup/Installer.h"

namespace ombrix::testing {

class FakeView : public setup::TSetupView {
 public:
  bool SetStatus(const std::string& status, const std::string& fileName) override {
    Statuses.push_back(status + "|" + fileName);
    if (CancelAtStatus != 0 && Statuses.size() >= CancelAtStatus) IsCanceled = true;
    return !IsCanceled;
  }
  void StepProgress() override { ++Steps; }
  void ShowErrorPage(const std::string& message) override { Errors.push_back(message); }
  bool AskYesNo(const std::string& question) override {
    Questions.push_back(question);
    return Answer;
  }
  void AddLine(const std::string& text, setup::TLineKind kind) override {
    Lines.emplace_back(text, kind);
  }
  bool Canceled() const override { return IsCanceled; }

  std::vector<std::string> Statuses, Errors, Questions;
  std::vector<std::pair<std::string, setup::TLineKind>> Lines;
  int Steps = 0;
  bool Answer = true;
  bool IsCanceled = false;
  std::size_t CancelAtStatus = 0;  // the user cancels during this status (1 = the first)
};

}  // namespace ombrix::testing
