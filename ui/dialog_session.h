// The core's side of the toolkit's dialog: the effect's parameters as
// controls, their values, the commands, the timer and the preview, all over
// the product's dialog model. And the start selector's dialog runner, which
// loads the toolkit from beside the core and runs it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "image/random.h"
#include "parameters/parameters.h"
#include "platform/message_queue.h"
#include "platform/protocol.h"
#include "ui/toolkit_api.h"

namespace kv {

struct RunRecord;
class FilterParameter;
class KalveroFilterDialogModel;

class ToolkitSession final : public toolkit::DialogSession {
 public:
  ToolkitSession(ps::FilterRecord& host, RunRecord& run, std::span<uint8_t> block);
  ~ToolkitSession() override;
  ToolkitSession(const ToolkitSession&) = delete;
  ToolkitSession& operator=(const ToolkitSession&) = delete;

  int32_t Open(DialogWindow& window) override;
  std::string Title() const override;
  std::string Caption() const override;
  std::string Text(std::string_view key) const override;
  std::string DialogHelp() const override;
  std::vector<std::string> Effects() const override;
  std::vector<std::string> PageLabels() const override;
  std::vector<toolkit::ControlSpec> Controls() const override;
  void Bind(int32_t control, toolkit::ControlView& shown) override;
  double Number(int32_t control) const override;
  std::string Value(int32_t control) const override;
  std::string SetNumber(int32_t control, double value) override;
  std::string SetValue(int32_t control, std::string_view text) override;
  std::string SwatchColor(int32_t control) const override;
  bool Arrangement(int32_t control, PuzzleArrangement& out, Rect& area) const override;
  std::string Arrange(int32_t control, toolkit::ArrangeCommand command, int32_t x, int32_t y) override;
  double TrackPosition(int32_t control, double value) const override;
  double TrackValue(int32_t control, double position) const override;
  void Gesture(bool begins) override;
  bool Command(int32_t command) override;
  std::vector<std::string> StoredSettings(bool shipped) override;
  bool DeleteStoredSetting(const std::string& name) override;
  bool RenameStoredSetting(const std::string& name) override;
  void Tick() override;
  int WakeupDescriptor() override { return queue_.WakeupDescriptor(); }
  std::optional<Rect> WindowPlacement() const override;
  void KeepWindowPlacement(const Rect& window) override;
  Size ImageSize() const override;
  PointD StartOrigin(Size viewSize, double zoom) const override;
  void SetView(PointD origin, double zoom, Size viewSize) override;
  bool Preview(toolkit::PreviewFrame& out, bool unprocessed) const override;

  // After the toolkit's run, whose answer was `shown`: 0 OK, 1 Cancel (also
  // when the window went without either: the host keeps its values), or
  // kNoDisplay or an error code as the toolkit gave them.
  int32_t Finish(int32_t shown);
  // The effect the user switched to, which ended the dialog; -1 for none.
  int32_t SwitchRequested() const { return switchTo_; }

 private:
  FilterParameter* At(int32_t control) const;
  // The host's layer can be made transparent.
  bool TransparentImage() const;
  // The status bar's word on a value the parameter cannot take.
  std::string Refusal(const FilterParameter* p, std::string_view value) const;

  ps::FilterRecord& host_;
  RunRecord& run_;
  std::span<uint8_t> block_;
  platform::MessageQueue queue_;
  // A window's control as the parameter it shows sees it.
  class ShownControl final : public ParameterControl {
   public:
    explicit ShownControl(toolkit::ControlView& view) : view_(view) {}
    void Enable(bool enabled) override { view_.Enable(enabled); }

   private:
    toolkit::ControlView& view_;
  };

  std::unique_ptr<KalveroFilterDialogModel> model_;
  std::vector<std::unique_ptr<ShownControl>> shown_;
  int32_t switchTo_ = -1;
  // For the puzzle's random commands: a new choice every time.
  RandomNumberGenerator random_;
};

// Runs the dialog through a toolkit's run procedure, again on another
// effect whenever the user switches; the toolkit's own failures are told to
// the user and answer 1.
int32_t RunDialogWith(toolkit::RunDialogProc run, ps::FilterRecord& host, RunRecord& record,
                      std::span<uint8_t> block);

// The toolkit library in `folder`, or null with `why` for the user.
toolkit::RunDialogProc LoadToolkit(const std::filesystem::path& folder, std::string& why);

// The dialog runner the shared core registers: the toolkit beside the core.
int32_t RunToolkitDialog(ps::FilterRecord& host, RunRecord& run, std::span<uint8_t> block);

}  // namespace kv
