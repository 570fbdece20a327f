// The product's dialog model: previews of the host's image at the view's
// zoom and place, rendered through the render driver on the worker thread,
// and a finished full-resolution preview handed to the run on OK.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/protocol.h"
#include "ui/dialog_model.h"
#include "ui/toolkit_api.h"

namespace kv {

struct RunRecord;

// Stands between the model and the toolkit's window: tells the model what
// it must know of the window's calls, remembers how the dialog ended, and
// forgets the window once it is gone.
class WindowRelay : public DialogWindow {
 public:
  explicit WindowRelay(DialogWindow* window) : window_(window) {}
  void Detach() { window_ = nullptr; }
  std::optional<Result> Ended() const { return ended_; }

  void ShowNewPreview() override;
  void MarkPreviewOutOfDate() override;
  void ShowError(const std::string& text) override;
  void StartProgress() override;
  void SetProgress(double fraction) override;
  void EndProgress() override;
  void EndDialog(Result result) override;
  void EnableCommand(int32_t command, bool enabled) override;
  void RefreshControls() override;
  void SetZoom(double zoom) override;
  std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                     const std::string& text) override;
  bool Confirm(const std::string& title, const std::string& text) override;
  void SettingsChanged() override;
  void CheckCommand(int32_t command, bool checked) override;
  void ShowAbout(const std::vector<std::string>& lines) override;

 protected:
  virtual void PreviewFinished() = 0;
  virtual void ZoomChanged(double zoom) = 0;

 private:
  DialogWindow* window_;
  std::optional<Result> ended_;
};

// The relay comes first so that it exists before the model talks to it.
class KalveroFilterDialogModel final : private WindowRelay, public FilterDialogModel {
 public:
  KalveroFilterDialogModel(int32_t& err, DialogWindow& window, ps::FilterRecord& host, RunRecord& run,
                           std::span<uint8_t> block,
                           platform::MessageQueue& queue);
  ~KalveroFilterDialogModel();

  using WindowRelay::Detach;
  using WindowRelay::Ended;

  Size ImageSize() const;
  PointD StartOrigin(Size viewSize, double zoom) const;
  // The window's view: image pixel under its top-left corner, zoom, size.
  void SetView(PointD origin, double zoom, Size viewSize);
  bool Frame(toolkit::PreviewFrame& out, bool unprocessed) const;
  // The model's commands, help pages and the Last Used setting.
  bool Command(int32_t command);
  // Stops a running render before the block or the view changes under it.
  void StopRendering();
  // The effect the user switched to, which ended this dialog; -1 for none.
  int32_t SwitchRequested() const { return switchTo_; }
  // The names a settings menu shows; its commands refer to this listing.
  const std::vector<std::string>& StoredSettings(bool shipped) const;
  // Managing the user's settings: confirmed or named through the window.
  bool DeleteStoredSetting(const std::string& name);
  bool RenameStoredSetting(const std::string& name);
  // The window's place as the options file keeps it.
  std::optional<Rect> WindowPlacement() const { return placement_; }
  void KeepWindowPlacement(const Rect& window);

  // Image pixels per preview pixel at `zoom`.
  static int32_t ScaleFor(double zoom);

 private:
  void PreviewFinished() override;
  void ZoomChanged(double zoom) override;
  int32_t RenderView(Abort_Tester& abort, ProgressUpdateSink& progress);
  Rect VisibleRect() const;
  // Reads a stored setting into the block as a change: undo, new preview.
  bool ApplySetting(const std::string& name);
  bool SaveCurrentSetting();
  // The stored settings' names and values, read again after every change
  // to them; then the commands that depend on them.
  void ReadStoredSettings();
  void UpdateSettingsCommands();
  // `block`'s values as a settings file holds them.
  std::string ValuesText(std::span<const uint8_t> block) const;
  // The next effect in `step`'s direction that can run on this image.
  int32_t NextRunnable(int32_t step) const;
  bool SwitchTo(int32_t effect);

  ps::FilterRecord& host_;
  RunRecord& run_;
  std::span<uint8_t> block_;
  PointD origin_;
  Size viewSize_{};
  double viewZoom_ = 1.0;
  bool haveView_ = false;
  bool settingView_ = false;
  int32_t switchTo_ = -1;
  std::vector<bool> runnable_;  // by effect number
  // The stored settings as the menus list them, their values as texts
  // (empty when unreadable), and those of "Last Used" and the defaults.
  struct Stored {
    std::vector<std::string> names, values;
  };
  Stored user_, shipped_;
  std::string lastUsedValues_, defaultValues_;
  std::optional<Rect> placement_;

  // The worker's: the image at the scale it was last read, and its render.
  std::unique_ptr<ByteImage> source_;
  int32_t sourceScale_ = 0;
  std::unique_ptr<ByteImage> rendering_;
  int32_t renderScale_ = 1;
  // The dialog thread's: the finished preview and what the window draws.
  std::unique_ptr<ByteImage> shown_;
  int32_t shownScale_ = 1;
  toolkit::PreviewFrame frame_, unprocessed_;
  bool haveFrame_ = false;
};

// The about box's lines: the product, its version, copyright and credits.
std::vector<std::string> AboutLines();

// RGBA for the window from any of the host's pixel layouts.
toolkit::PreviewFrame ToFrame(const ByteImage& image, const Rect& r, int32_t scale);

}  // namespace kv
