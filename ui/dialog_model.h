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
#include "ui/toolkit_api.h"

namespace kv {

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
    std::function<void()> valuesChanged;  // after every change, undo, redo and reset
  };

  // `block` is the host's parameters handle, locked for the dialog's life,
  // kParametersHandleSize bytes. 0 or an error code in `err`.
  FilterDialogModel(int32_t& err, DialogWindow& window, Filter& effect, std::span<uint8_t> block, Hooks hooks,
                    platform::MessageQueue& queue, const char* errorText);
  ~FilterDialogModel();

  ParameterList& Parameters() { return list_; }
  const ParameterList& Parameters() const { return list_; }
  PreviewModel& Preview() { return preview_; }
  double Zoom() const { return zoom_; }

  // A control has written a new value into the block.
  void ParametersChanged();
  // Between a drag's begin and end its changes are one step to undo.
  void Gesture(bool begins);
  void OK();
  void Cancel();
  void Undo();
  void Redo();
  void ResetToDefaults();
  void SetZoom(double zoom);
  bool ShowMarkers() const { return showMarkers_; }
  void SetShowMarkers(bool show);
  // Runs a window command; false when the model does not know it.
  bool Command(int32_t command);

 private:
  using Snapshot = std::vector<uint8_t>;
  void StopPreview();
  void Changed(std::deque<Snapshot>* history);
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
  bool showMarkers_ = true;
  bool inGesture_ = false, gestureStepped_ = false;
};

}  // namespace kv
