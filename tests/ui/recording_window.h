// A dialog window that only records what the model tells it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_model.h"

namespace kv::test {

struct RecordingWindow final : DialogWindow {
  void ShowNewPreview() override { ++shown; }
  void MarkPreviewOutOfDate() override {}
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void StartProgress() override {}
  void SetProgress(double) override {}
  void EndProgress() override {}
  void EndDialog(Result r) override { ended.push_back(r); }
  void EnableCommand(int32_t command, bool enabled) override { enabledCommands[command] = enabled; }
  void RefreshControls() override { ++refreshes; }
  void SetZoom(double z) override { zoom = z; }
  // Prompts take the next of `answers`, cancelled when there is none.
  std::optional<std::string> AskText(const std::string& title, const std::string&, const std::string&) override {
    prompts.push_back(title);
    if (answers.empty()) return std::nullopt;
    std::string answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
  bool Confirm(const std::string& title, const std::string&) override {
    prompts.push_back(title);
    return confirm;
  }
  void SettingsChanged() override { ++settingsChanges; }
  void CheckCommand(int32_t command, bool checked) override { checkedCommands[command] = checked; }
  // What a toolkit's run answers once the model has ended the dialog.
  int32_t Answer() const { return ended.empty() ? -1 : int32_t(ended.back()); }

  int shown = 0, refreshes = 0;
  double zoom = 1.0;
  std::vector<std::string> errors;
  std::vector<Result> ended;
  std::map<int32_t, bool> enabledCommands, checkedCommands;
  std::vector<std::string> answers, prompts;
  bool confirm = false;
  int settingsChanges = 0;
};

}  // namespace kv::test
