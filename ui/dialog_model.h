// The model behind an effect's dialog: the effect's parameter list bound to
// the host's block, the copy of that block taken when the dialog opened,
// the undo and redo histories, the preview zoom and the preview itself.
// The window shows the model and reports the user's actions to it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "framework/filter.h"
#include "parameters/parameters.h"
#include "ui/preview_model.h"

namespace kv {

// The window's side, as far as the model needs it.
class DialogWindow : public PreviewView {
 public:
  enum Result : int32_t { kOK = 0, kCancel = 1 };
  virtual void EndDialog(Result result) = 0;
  virtual void EnableCommand(int32_t command, bool enabled) = 0;
  virtual void RefreshControls() = 0;  // every control from the block
  virtual void SetZoom(double zoom) = 0;

  // The settings commands' prompts. The defaults answer as if the user
  // cancelled them.
  virtual std::optional<std::string> AskText(const std::string& /*title*/, const std::string& /*label*/,
                                             const std::string& /*text*/) {
    return std::nullopt;
  }
  virtual bool Confirm(const std::string& /*title*/, const std::string& /*text*/) { return false; }
  // The stored settings changed: a menu of them is out of date.
  virtual void SettingsChanged() {}
};

// Window commands.
enum DialogCommand : int32_t {
  kCommandOK = 1,
  kCommandCancel = 2,
  kCommandOKButton = 1000,
  kCommandCancelButton = 1001,
  kCommandNextEffect = 10110,
  kCommandPreviousEffect = 10111,
  kCommandZoomOut = 10112,
  kCommandZoomIn = 10113,
  kCommandZoomOne = 10114,
  kCommandSaveSetting = 10115,
  kCommandManageSettings = 10116,
  kCommandLastUsed = 10117,
  kCommandUndo = 10118,
  kCommandRedo = 10119,
  kCommandReset = 10125,
  kCommandMakersPage = 10126,
  kCommandEffectHelp = 10129,
  kCommandHelpContents = 10130,
  kCommandProductPage = 10131,
  kCommandSwitchEffect = 4000,  // + effect number
  kCommandUserSetting = 6000,     // + index into the user's stored settings
  kCommandShippedSetting = 7000,  // + index into the shipped ones
};

// The zoom levels one step out and in from `zoom`.
double ZoomOutFrom(double zoom);
double ZoomInFrom(double zoom);

class FilterDialogModel {
 public:
  struct Hooks {
    PreviewModel::Render render;                          // the preview render, on the worker
    std::function<std::unique_ptr<ByteImage>()> takePreview;  // the finished preview, for OK
    std::function<void(std::unique_ptr<ByteImage>)> keepPreview;  // hands it to the run
    std::function<void(std::span<const uint8_t> block)> storeLastUsed;  // OK's "Last Used"; failures ignored
  };

  // `block` is the host's parameters handle, locked for the dialog's life,
  // kParametersHandleSize bytes. 0 or an error code in `err`.
  FilterDialogModel(int32_t& err, DialogWindow& window, Filter& effect, std::span<uint8_t> block, Hooks hooks,
                    platform::MessageQueue& queue, const char* errorText);
  ~FilterDialogModel();

  ParameterList& Parameters() { return list_; }
  PreviewModel& Preview() { return preview_; }
  double Zoom() const { return zoom_; }

  // A control has written a new value into the block.
  void ParametersChanged();
  void OK();
  void Cancel();
  void Undo();
  void Redo();
  void ResetToDefaults();
  void SetZoom(double zoom);
  // Runs a window command; false when the model does not know it.
  bool Command(int32_t command);

 private:
  using Snapshot = std::vector<uint8_t>;
  void StopPreview();
  void Changed(std::deque<Snapshot>& history);
  void Restore(std::deque<Snapshot>& from, std::deque<Snapshot>& to);
  void EnableHistory();

  DialogWindow& window_;
  Filter& effect_;
  std::span<uint8_t> block_;
  Hooks hooks_;
  ParameterList list_;
  PreviewModel preview_;
  Snapshot opened_;   // the block as the host had it
  Snapshot current_;  // the block as the model last knew it
  std::deque<Snapshot> undo_, redo_;
  double zoom_ = 1.0;
};

}  // namespace kv
