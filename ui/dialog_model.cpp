#include "ui/dialog_model.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kv {

namespace {

constexpr std::array<double, 14> kZoomLevels = {16, 12, 8, 6, 4, 3, 2, 1, 0.5, 0.25, 0.2, 0.125, 0.1, 0.0625};

}  // namespace

double ZoomOutFrom(double zoom) {
  if (zoom <= kZoomLevels.back()) return kZoomLevels.back();
  if (zoom > kZoomLevels.front()) return zoom;
  for (double level : kZoomLevels)
    if (level < zoom) return level;
  return kZoomLevels.back();
}

double ZoomInFrom(double zoom) {
  if (zoom >= kZoomLevels.front()) return kZoomLevels.front();
  if (zoom < kZoomLevels.back()) return zoom;
  for (auto it = kZoomLevels.rbegin(); it != kZoomLevels.rend(); ++it)
    if (*it > zoom) return *it;
  return kZoomLevels.front();
}

FilterDialogModel::FilterDialogModel(int32_t& err, DialogWindow& window, Filter& effect, std::span<uint8_t> block,
                                     Hooks hooks,
                                     platform::MessageQueue& queue, const char* errorText)
    : window_(window),
      effect_(effect),
      block_(block),
      hooks_(std::move(hooks)),
      preview_(window, hooks_.render, queue, errorText),
      opened_(block.begin(), block.end()),
      current_(opened_) {
  err = effect_.BuildParameters(list_, block_.data());
  if (err == 0) err = effect_.UpdateParameterStates(list_, block_.data());
  EnableHistory();
  window_.CheckCommand(kCommandShowMarkers, showMarkers_);
}

FilterDialogModel::~FilterDialogModel() { StopPreview(); }

void FilterDialogModel::StopPreview() {
  if (preview_.Running()) preview_.StopRender();
}

void FilterDialogModel::EnableHistory() {
  window_.EnableCommand(kCommandUndo, !undo_.empty());
  window_.EnableCommand(kCommandRedo, !redo_.empty());
}

// The block as it was goes onto `history` (unless null); the block as it
// is becomes the one the model knows.
void FilterDialogModel::Changed(std::deque<Snapshot>* history) {
  if (history != nullptr) history->push_front(current_);
  current_.assign(block_.begin(), block_.end());
  effect_.UpdateParameterStates(list_, block_.data());
  preview_.Invalidate();
  EnableHistory();
  if (hooks_.valuesChanged) hooks_.valuesChanged();
}

void FilterDialogModel::ParametersChanged() {
  StopPreview();
  for (auto& p : list_) p->Clamp();
  redo_.clear();
  // A drag's later moves join the step its first one made.
  const bool joins = inGesture_ && gestureStepped_;
  gestureStepped_ = inGesture_;
  Changed(joins ? nullptr : &undo_);
}

void FilterDialogModel::Gesture(bool begins) {
  inGesture_ = begins;
  gestureStepped_ = false;
}

void FilterDialogModel::Restore(std::deque<Snapshot>& from, std::deque<Snapshot>& to) {
  if (from.empty()) return;
  StopPreview();
  to.push_front(current_);
  current_ = std::move(from.front());
  from.pop_front();
  std::copy(current_.begin(), current_.end(), block_.begin());
  effect_.UpdateParameterStates(list_, block_.data());
  window_.RefreshControls();
  preview_.Invalidate();
  EnableHistory();
  if (hooks_.valuesChanged) hooks_.valuesChanged();
}

void FilterDialogModel::Undo() { Restore(undo_, redo_); }
void FilterDialogModel::Redo() { Restore(redo_, undo_); }

void FilterDialogModel::ResetToDefaults() {
  StopPreview();
  effect_.SetDefaults(block_.data());
  // In range at this image's resolution, as the core holds every block.
  for (auto& p : list_) p->Clamp();
  redo_.clear();
  Changed(&undo_);
  window_.RefreshControls();
}

void FilterDialogModel::SetZoom(double zoom) {
  if (zoom == zoom_) return;
  StopPreview();
  zoom_ = zoom;
  window_.SetZoom(zoom_);
  preview_.Invalidate();
}

void FilterDialogModel::SetShowMarkers(bool show) {
  showMarkers_ = show;
  window_.CheckCommand(kCommandShowMarkers, show);
}

void FilterDialogModel::OK() {
  StopPreview();
  if (preview_.state() == PreviewModel::kShown && hooks_.takePreview && hooks_.keepPreview) {
    hooks_.keepPreview(hooks_.takePreview());
    preview_.Invalidate();
  }
  for (auto& p : list_) p->Clamp();
  window_.EndDialog(DialogWindow::kOK);
  if (hooks_.storeLastUsed) hooks_.storeLastUsed(block_);
}

void FilterDialogModel::Cancel() {
  StopPreview();
  std::copy(opened_.begin(), opened_.end(), block_.begin());
  window_.EndDialog(DialogWindow::kCancel);
}

bool FilterDialogModel::Command(int32_t command) {
  switch (command) {
    case kCommandOK: case kCommandOKButton: OK(); return true;
    case kCommandCancel: case kCommandCancelButton: Cancel(); return true;
    case kCommandZoomOut: SetZoom(ZoomOutFrom(zoom_)); return true;
    case kCommandZoomIn: SetZoom(ZoomInFrom(zoom_)); return true;
    case kCommandZoomOne: SetZoom(1.0); return true;
    case kCommandUndo: Undo(); return true;
    case kCommandRedo: Redo(); return true;
    case kCommandReset: ResetToDefaults(); return true;
    case kCommandShowMarkers: SetShowMarkers(!showMarkers_); return true;
    default: return false;
  }
}

}  // namespace kv
