#include "ui/kalvero_dialog_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "effects/filter_table.h"
#include "framework/render_driver.h"
#include "framework/requirements.h"
#include "framework/settings_block.h"
#include "host/host_calls.h"
#include "host/pixel_layout.h"
#include "host/run_record.h"
#include "host/whole_image.h"
#include "platform/format.h"
#include "platform/product.h"
#include "platform/string_table.h"
#include "platform/system.h"

namespace kv {

// --- the relay ----------------------------------------------------------------

void WindowRelay::ShowNewPreview() {
  PreviewFinished();
  if (window_ != nullptr) window_->ShowNewPreview();
}
void WindowRelay::MarkPreviewOutOfDate() {
  if (window_ != nullptr) window_->MarkPreviewOutOfDate();
}
void WindowRelay::ShowError(const std::string& text) {
  if (window_ != nullptr) window_->ShowError(text);
}
void WindowRelay::StartProgress() {
  if (window_ != nullptr) window_->StartProgress();
}
void WindowRelay::SetProgress(double fraction) {
  if (window_ != nullptr) window_->SetProgress(fraction);
}
void WindowRelay::EndProgress() {
  if (window_ != nullptr) window_->EndProgress();
}
void WindowRelay::EndDialog(Result result) {
  if (!ended_) ended_ = result;
  if (window_ != nullptr) window_->EndDialog(result);
}
void WindowRelay::EnableCommand(int32_t command, bool enabled) {
  if (window_ != nullptr) window_->EnableCommand(command, enabled);
}
void WindowRelay::RefreshControls() {
  if (window_ != nullptr) window_->RefreshControls();
}
void WindowRelay::SetZoom(double zoom) {
  ZoomChanged(zoom);
  if (window_ != nullptr) window_->SetZoom(zoom);
}
std::optional<std::string> WindowRelay::AskText(const std::string& title, const std::string& label,
                                                const std::string& text) {
  return window_ != nullptr ? window_->AskText(title, label, text) : std::nullopt;
}
bool WindowRelay::Confirm(const std::string& title, const std::string& text) {
  return window_ != nullptr && window_->Confirm(title, text);
}
void WindowRelay::SettingsChanged() {
  if (window_ != nullptr) window_->SettingsChanged();
}
void WindowRelay::CheckCommand(int32_t command, bool checked) {
  if (window_ != nullptr) window_->CheckCommand(command, checked);
}
void WindowRelay::ShowAbout(const std::vector<std::string>& lines) {
  if (window_ != nullptr) window_->ShowAbout(lines);
}

// --- display pixels -------------------------------------------------------------

namespace {

double LabInverse(double t) {
  constexpr double d = 6.0 / 29.0;
  return t > d ? t * t * t : 3.0 * d * d * (t - 4.0 / 29.0);
}

uint8_t Encoded(double linear) {
  const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
  return uint8_t(std::clamp(v, 0.0, 1.0) * 255.0 + 0.5);
}

// Lab as the host stores it (L 0..255 for 0..100, a and b about 128), D50.
void LabToRgb(const uint8_t* p, uint8_t* rgb) {
  const double L = p[0] * (100.0 / 255.0), a = p[1] - 128.0, b = p[2] - 128.0;
  const double fy = (L + 16.0) / 116.0;
  const double X = 0.9642 * LabInverse(fy + a / 500.0), Y = LabInverse(fy), Z = 0.8249 * LabInverse(fy - b / 200.0);
  rgb[0] = Encoded(3.1339 * X - 1.6169 * Y - 0.4906 * Z);
  rgb[1] = Encoded(-0.9788 * X + 1.9161 * Y + 0.0335 * Z);
  rgb[2] = Encoded(0.0719 * X - 0.2290 * Y + 1.4052 * Z);
}

}  // namespace

toolkit::PreviewFrame ToFrame(const ByteImage& image, const Rect& wanted, int32_t scale) {
  toolkit::PreviewFrame frame;
  const Rect r = wanted.Intersect(image.bounds);
  if (r.IsEmpty()) return frame;
  frame.size = {r.Width(), r.Height()};
  frame.origin = {double(r.left) * scale, double(r.top) * scale};
  frame.zoom = 1.0 / scale;
  frame.rgba.resize(size_t(r.Width()) * size_t(r.Height()) * 4);
  const PixelFormat& f = image.format;
  uint8_t* dst = frame.rgba.data();
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const uint8_t* p = image.Address(r.left, y);
    for (int32_t x = r.left; x < r.right; ++x, p += image.pixelStep, dst += 4) {
      if (f.mode == kModeLab && f.colorChannels >= 3) {
        LabToRgb(p, dst);
      } else if (f.mode == kModeCMYK && f.colorChannels >= 4) {
        // The paper left showing: 255 is no ink.
        for (int c = 0; c < 3; ++c) dst[c] = uint8_t(p[c] * p[3] / 255);
      } else if (f.colorChannels >= 3) {
        std::memcpy(dst, p, 3);
      } else {
        dst[0] = dst[1] = dst[2] = p[0];
      }
      dst[3] = f.hasAlpha ? p[f.colorChannels] : 255;
    }
  }
  return frame;
}

// --- the model ------------------------------------------------------------------

namespace {

// The options file's further value: the dialog's display options.
constexpr int32_t kOptionHideMarkers = 1;

bool OpenHelpPage(const std::string& page) {
  if (page.empty()) return false;
  const std::filesystem::path file = platform::ResourceFolder() / "Help" / page;
  std::error_code ec;
  return std::filesystem::exists(file, ec) && platform::OpenWithDesktop(file.string());
}

// Whether effect `filterId` suits the host's image and its block fits the
// host's handle, without a word to the user.
bool CanRunEffect(int32_t filterId, size_t blockSize) {
  std::unique_ptr<Filter> filter = CreateFilter(filterId);
  ps::FilterRecord* host = Session().record;
  return filter && filter->ParameterBlockSize() <= blockSize && host != nullptr &&
         CheckRequirements(*filter, *host, Session().run, true);
}

// A host that cannot take a change of effect in the middle of its call is
// known by its program's name; asked once.
bool SwitchingOffered() {
  static const bool offered = [] {
    std::error_code ec;
    std::string name = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
    for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
    return name.rfind("FIREWORKS", 0) != 0;
  }();
  return offered;
}

}  // namespace

std::vector<std::string> AboutLines() {
  std::vector<std::string> lines{kProductName,
                                 strings::Text("Version:") + " " + std::to_string(KALVERO_VERSION_MAJOR) + "." +
                                     std::to_string(KALVERO_VERSION_MINOR) + "." +
                                     std::to_string(KALVERO_VERSION_PATCH) + " Release",
                                 strings::Text("Copyright")};
  for (int i = 1; i <= 8; ++i) {
    std::string line = strings::Text("Credits Line " + std::to_string(i));
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

KalveroFilterDialogModel::KalveroFilterDialogModel(int32_t& err, DialogWindow& window, ps::FilterRecord& host,
                                                   RunRecord& run, std::span<uint8_t> block,
                                                   platform::MessageQueue& queue)
    : WindowRelay(&window),
      FilterDialogModel(err, *this, *run.filter, block,
                        Hooks{[this](Abort_Tester& abort, ProgressUpdateSink& progress) {
                                return RenderView(abort, progress);
                              },
                              // Only full-resolution pixels can stand in for the final render's.
                              [this] { return shownScale_ == 1 ? std::move(shown_) : nullptr; },
                              [this](std::unique_ptr<ByteImage> preview) { run_.previewResult = std::move(preview); },
                              // A Last Used that cannot be kept leaves OK as it was.
                              [this](std::span<const uint8_t> b) { (void)StoreLastUsed(*run_.filter, b); },
                              [this] { UpdateSettingsCommands(); }},
                        queue, run.errorText),
      host_(host),
      run_(run),
      block_(block) {
  ParameterList& list = Parameters();
  list.SetResolution(host.imageHRes);
  list.positionFrame = PositionFrame{AreaRect(host, &run), ImageBounds(host)};
  const int32_t current = run.filter->filterId;
  for (int32_t n = 0; n < kEffectCount; ++n) {
    runnable_.push_back(n == current || (SwitchingOffered() && CanRunEffect(n, block.size())));
    EnableCommand(kCommandSwitchEffect + n, runnable_.back());
    CheckCommand(kCommandSwitchEffect + n, n == current);
  }
  const bool others = NextRunnable(1) >= 0;
  EnableCommand(kCommandNextEffect, others);
  EnableCommand(kCommandPreviousEffect, others);
  // No options yet: the window finds its own place, the markers show.
  if (DialogOptions options; ReadOptions(options) == 0) {
    placement_ = options.window;
    SetShowMarkers((options.value & kOptionHideMarkers) == 0);
  }
  ReadStoredSettings();
}

KalveroFilterDialogModel::~KalveroFilterDialogModel() { StopRendering(); }

void KalveroFilterDialogModel::StopRendering() {
  if (Preview().Running()) Preview().StopRender();
}

int32_t KalveroFilterDialogModel::ScaleFor(double zoom) {
  return zoom >= 1.0 || zoom <= 0.0 ? 1 : std::max(1, int32_t(std::floor(1.0 / zoom + 1e-9)));
}

Size KalveroFilterDialogModel::ImageSize() const { return {host_.imageSize.h, host_.imageSize.v}; }

PointD KalveroFilterDialogModel::StartOrigin(Size viewSize, double zoom) const {
  if (zoom <= 0.0) zoom = 1.0;
  const Size shown{int32_t(std::ceil(viewSize.width / zoom)), int32_t(std::ceil(viewSize.height / zoom))};
  const Point p = PreviewOrigin(run_.filter->PreviewPlacement(), AreaRect(host_, &run_), shown);
  return {double(p.x), double(p.y)};
}

void KalveroFilterDialogModel::SetView(PointD origin, double zoom, Size viewSize) {
  if (!(zoom > 0.0) || viewSize.width <= 0 || viewSize.height <= 0) return;
  if (haveView_ && origin == origin_ && viewSize.width == viewSize_.width &&
      viewSize.height == viewSize_.height && zoom == Zoom()) return;
  StopRendering();
  origin_ = origin;
  viewSize_ = viewSize;
  viewZoom_ = zoom;
  const bool first = !haveView_;
  haveView_ = true;
  settingView_ = true;
  if (zoom != Zoom()) FilterDialogModel::SetZoom(zoom);
  else Preview().Invalidate();
  settingView_ = false;
  // The preview control now exists: the next tick renders.
  if (first) Preview().SetUp();
}

void KalveroFilterDialogModel::ZoomChanged(double zoom) {
  // A zoom command keeps the view's centre where it was; the window may
  // place it otherwise with its next view.
  if (!settingView_ && haveView_ && viewZoom_ > 0.0) {
    const PointD centre{origin_.x + viewSize_.width / (2 * viewZoom_), origin_.y + viewSize_.height / (2 * viewZoom_)};
    origin_ = {centre.x - viewSize_.width / (2 * zoom), centre.y - viewSize_.height / (2 * zoom)};
  }
  viewZoom_ = zoom;
}

Rect KalveroFilterDialogModel::VisibleRect() const {
  const double z = Zoom();
  const Rect r{int32_t(std::floor(origin_.x)), int32_t(std::floor(origin_.y)),
               int32_t(std::ceil(origin_.x + viewSize_.width / z)),
               int32_t(std::ceil(origin_.y + viewSize_.height / z))};
  return r.Intersect(ImageBounds(host_));
}

// On the worker: the model stops it before the block, the view or the zoom
// change, so what it reads holds still.
int32_t KalveroFilterDialogModel::RenderView(Abort_Tester& abort, ProgressUpdateSink& progress) {
  run_.errorText[0] = '\0';
  const int32_t scale = ScaleFor(Zoom());
  if (!source_ || sourceScale_ != scale) {
    source_.reset();
    // Through the host-call layer: the read runs on the host's thread.
    source_ = ReadWholeImage(&host_, ImageBounds(host_), double(scale));
    sourceScale_ = scale;
    if (!source_) return kErrOutOfMemory;
  }
  const Rect tile = ReducedRect(VisibleRect(), scale).Intersect(source_->bounds);
  auto out = std::make_unique<ByteImage>();
  if (tile.IsEmpty()) {
    rendering_ = std::move(out);
    renderScale_ = scale;
    return 0;
  }
  if (out->Allocate(tile, source_->format) != 0) return kErrOutOfMemory;
  const int32_t err = RenderPreview(host_, run_, block_.data(), *source_, *out, scale, abort, progress);
  if (err == 0) {
    rendering_ = std::move(out);
    renderScale_ = scale;
  }
  return err;
}

// On the dialog thread, once the worker has ended with success.
void KalveroFilterDialogModel::PreviewFinished() {
  if (!rendering_) return;
  shown_ = std::move(rendering_);
  shownScale_ = renderScale_;
  haveFrame_ = !shown_->bounds.IsEmpty();
  if (!haveFrame_) return;
  frame_ = ToFrame(*shown_, shown_->bounds, shownScale_);
  unprocessed_ = ToFrame(*source_, shown_->bounds, shownScale_);
}

bool KalveroFilterDialogModel::Frame(toolkit::PreviewFrame& out, bool unprocessed) const {
  if (!haveFrame_) return false;
  out = unprocessed ? unprocessed_ : frame_;
  return true;
}

bool KalveroFilterDialogModel::ApplySetting(const std::string& name) {
  std::vector<uint8_t> bytes(block_.begin(), block_.end());
  if (LoadSetting(*run_.filter, name, bytes, Parameters().resolution) != 0) return false;
  StopRendering();
  std::copy(bytes.begin(), bytes.end(), block_.begin());
  ParametersChanged();
  RefreshControls();
  return true;
}

const std::vector<std::string>& KalveroFilterDialogModel::StoredSettings(bool shipped) const {
  return shipped ? shipped_.names : user_.names;
}

std::string KalveroFilterDialogModel::ValuesText(std::span<const uint8_t> block) const {
  std::vector<uint8_t> copy(block.begin(), block.end());
  ParameterList list;
  if (run_.filter->BuildParameters(list, copy.data()) != 0) return {};
  list.resolution = Parameters().resolution;
  list.positionFrame = Parameters().positionFrame;
  // Compared with the values shown, which are clamped at this resolution.
  for (auto& p : list) p->Clamp();
  return SettingsText(run_.filter->SettingsName(), list);
}

void KalveroFilterDialogModel::ReadStoredSettings() {
  const std::string effect = run_.filter->SettingsName();
  std::vector<uint8_t> defaults(block_.begin(), block_.end());
  run_.filter->SetDefaults(defaults.data());
  defaultValues_ = ValuesText(defaults);
  // Values a file lacks are the defaults', as when it was written.
  const auto valuesOf = [&](const std::string& name) {
    std::vector<uint8_t> b = defaults;
    return LoadSetting(*run_.filter, name, b, Parameters().resolution) == 0 ? ValuesText(b) : std::string();
  };
  for (const bool shipped : {false, true}) {
    Stored& stored = shipped ? shipped_ : user_;
    stored.names.clear();
    stored.values.clear();
    if ((shipped ? ListShippedSettings(effect, stored.names) : ListUserSettings(effect, stored.names)) != 0)
      stored.names.clear();
    for (const std::string& name : stored.names) stored.values.push_back(valuesOf(name));
  }
  lastUsedValues_ = valuesOf(LastUsedName());
  UpdateSettingsCommands();
}

// Last Used and Reset are offered when they would change something; the
// stored settings the values match are checked.
void KalveroFilterDialogModel::UpdateSettingsCommands() {
  const std::string now = SettingsText(run_.filter->SettingsName(), Parameters());
  EnableCommand(kCommandLastUsed, !lastUsedValues_.empty() && lastUsedValues_ != now);
  EnableCommand(kCommandReset, defaultValues_ != now);
  for (const bool shipped : {false, true}) {
    const Stored& stored = shipped ? shipped_ : user_;
    const int32_t first = shipped ? kCommandShippedSetting : kCommandUserSetting;
    for (size_t k = 0; k < stored.values.size(); ++k)
      CheckCommand(first + int32_t(k), !stored.values[k].empty() && stored.values[k] == now);
  }
}

void KalveroFilterDialogModel::KeepWindowPlacement(const Rect& window) {
  placement_ = window;
  // A place that cannot be kept is not worth a word to the user.
  (void)WriteOptions({window, ShowMarkers() ? 0 : kOptionHideMarkers});
}

bool KalveroFilterDialogModel::DeleteStoredSetting(const std::string& name) {
  if (!Confirm(strings::Text("Confirm Delete"), FormatText(strings::Text("Confirm Delete Message"), name)))
    return false;
  if (DeleteSetting(run_.filter->SettingsName(), name) != 0) return false;
  ReadStoredSettings();
  SettingsChanged();
  return true;
}

bool KalveroFilterDialogModel::RenameStoredSetting(const std::string& name) {
  const std::optional<std::string> to = AskText(strings::Text("Rename Setting"), strings::Text("New name:"), name);
  if (!to || *to == name) return false;
  if (!IsValidSettingName(*to)) {
    ShowError(strings::Text("Error - Invalid Setting Name"));
    return false;
  }
  if (RenameSetting(run_.filter->SettingsName(), name, *to) != 0) {
    ShowError(strings::Text("Error - Renaming Setting"));
    return false;
  }
  ReadStoredSettings();
  SettingsChanged();
  return true;
}

// A cancelled prompt ends the command without a word.
bool KalveroFilterDialogModel::SaveCurrentSetting() {
  const std::optional<std::string> name = AskText(strings::Text("Save Setting"), strings::Text("Setting name:"), "");
  if (!name) return true;
  if (!IsValidSettingName(*name)) {
    ShowError(strings::Text("Error - Invalid Setting Name"));
    return false;
  }
  bool exists = false;
  if (SettingExists(run_.filter->SettingsName(), *name, exists) == 0 && exists &&
      !Confirm(strings::Text("Confirm Replace"), FormatText(strings::Text("Confirm Replace Message"), *name)))
    return true;
  if (SaveSetting(*run_.filter, *name, block_) != 0) {
    ShowError(strings::Text("Error - Saving Setting"));
    return false;
  }
  ReadStoredSettings();
  SettingsChanged();
  return true;
}

int32_t KalveroFilterDialogModel::NextRunnable(int32_t step) const {
  const int32_t current = run_.filter->filterId;
  for (int32_t i = 1; i < kEffectCount; ++i) {
    const int32_t n = ((current + step * i) % kEffectCount + kEffectCount) % kEffectCount;
    if (runnable_[size_t(n)]) return n;
  }
  return -1;
}

// The dialog ends as cancelled, leaving the block as it found it; the
// runner opens it again on the other effect.
bool KalveroFilterDialogModel::SwitchTo(int32_t effect) {
  if (effect < 0 || effect >= kEffectCount || !runnable_[size_t(effect)]) return false;
  if (effect == run_.filter->filterId) return true;
  switchTo_ = effect;
  Cancel();
  return true;
}

bool KalveroFilterDialogModel::Command(int32_t command) {
  if (command >= kCommandSwitchEffect && command < kCommandSwitchEffect + kEffectCount)
    return SwitchTo(command - kCommandSwitchEffect);
  const auto listed = [&](int32_t first, const std::vector<std::string>& names) {
    return command >= first && command < first + int32_t(names.size());
  };
  if (listed(kCommandUserSetting, user_.names))
    return ApplySetting(user_.names[size_t(command - kCommandUserSetting)]);
  if (listed(kCommandShippedSetting, shipped_.names))
    return ApplySetting(shipped_.names[size_t(command - kCommandShippedSetting)]);
  switch (command) {
    case kCommandEffectHelp: return OpenHelpPage(run_.filter->HelpPage());
    case kCommandHelpContents: return OpenHelpPage(kContentsHelpPage);
    case kCommandErrorsHelp: return OpenHelpPage(kErrorsHelpPage);
    case kCommandAbout: ShowAbout(AboutLines()); return true;
    case kCommandMakersPage: return platform::OpenWithDesktop(strings::Text("URL Brightfold Home Page"));
    case kCommandProductPage: return platform::OpenWithDesktop(strings::Text("URL Product Home Page"));
    case kCommandLastUsed: return ApplySetting(LastUsedName());
    case kCommandSaveSetting: return SaveCurrentSetting();
    case kCommandNextEffect: return SwitchTo(NextRunnable(1));
    case kCommandPreviousEffect: return SwitchTo(NextRunnable(-1));
    default: return FilterDialogModel::Command(command);
  }
}

}  // namespace kv
