#include "ui/dialog_session.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "effects/filter_table.h"
#include "framework/settings_block.h"
#include "host/host_calls.h"
#include "host/pixel_layout.h"
#include "host/run_record.h"
#include "host/working_area.h"
#include "parameters/parameter_io.h"
#include "parameters/parameters.h"
#include "platform/format.h"
#include "platform/product.h"
#include "platform/string_table.h"
#include "platform/system.h"
#include "ui/kalvero_dialog_model.h"

namespace kv {

namespace {

using toolkit::ControlKind;
using toolkit::ControlSpec;

// Places after the point a slider's edit field shows: finer for short ranges.
int32_t Decimals(double minimum, double maximum) {
  const double span = maximum - minimum;
  return span <= 1.0 ? 2 : span <= 20.0 ? 1 : 0;
}

// The fills a layer-fill control offers, in the order it shows them: making
// the area transparent only where the image can be.
std::vector<uint32_t> FillChoices(const LayerFillParameter& fill, bool transparentImage) {
  std::vector<uint32_t> modes;
  if (fill.allowedModes & kAllowFillColor) modes.push_back(kFillWithColor);
  if (fill.allowedModes & kAllowKeepOriginal) modes.push_back(kFillKeepOriginal);
  if ((fill.allowedModes & kAllowTransparent) && transparentImage) modes.push_back(kFillTransparent);
  return modes;
}

// The choice that shows `mode`, -1 for none. Without transparency the
// effects fill with the colour where they would make the area transparent,
// so that is the choice shown; the value stays until the user picks.
int32_t FillChoice(const std::vector<uint32_t>& modes, uint32_t mode) {
  if (mode == kFillTransparent && std::find(modes.begin(), modes.end(), mode) == modes.end()) mode = kFillWithColor;
  const auto it = std::find(modes.begin(), modes.end(), mode);
  return it != modes.end() ? int32_t(it - modes.begin()) : -1;
}

ControlSpec SpecOf(const FilterParameter& p, bool transparentImage) {
  ControlSpec spec;
  spec.name = p.Name();
  spec.label = p.Label();
  spec.help = p.HelpText();
  spec.page = p.page;
  if (const auto* s = dynamic_cast<const SliderParameter*>(&p)) {
    spec.kind = ControlKind::kSlider;
    spec.minimum = s->minimum;
    spec.maximum = s->maximum;
    spec.decimals = Decimals(s->minimum, s->maximum);
  } else if (const auto* l = dynamic_cast<const LengthSliderParameter*>(&p)) {
    spec.kind = ControlKind::kLength;
    spec.minimum = l->minimum;
    spec.maximum = l->maximum;
    spec.decimals = Decimals(l->minimum, l->maximum);
    spec.pixelsPerInch = l->Resolution();
    for (int32_t unit = 0; unit < kLengthUnitCount; ++unit) spec.items.emplace_back(LengthUnitWord(unit));
  } else if (dynamic_cast<const CheckboxParameter*>(&p) != nullptr) {
    spec.kind = ControlKind::kCheckbox;
    spec.maximum = 1;
  } else if (const auto* list = dynamic_cast<const ListboxParameter*>(&p)) {
    spec.kind = ControlKind::kListbox;
    spec.maximum = double(list->items.size()) - 1;
    for (const auto& item : list->items) spec.items.push_back(strings::Text(item.label));
  } else if (dynamic_cast<const ColorParameter*>(&p) != nullptr) {
    spec.kind = ControlKind::kColor;
  } else if (dynamic_cast<const DirectionParameter*>(&p) != nullptr) {
    spec.kind = ControlKind::kDirection;
    spec.maximum = 360;
  } else if (dynamic_cast<const RandomSeedParameter*>(&p) != nullptr) {
    spec.kind = ControlKind::kSeed;
    spec.maximum = 65535;
  } else if (const auto* light = dynamic_cast<const LightingParameter*>(&p)) {
    spec.kind = ControlKind::kLighting;
    spec.minimum = light->minInclination;
    spec.maximum = 90;
    for (const char* part : {"Lighting Direction", "Lighting Inclination", "Lighting Brightness",
                             "Lighting Sharpness", "Lighting Highlight"})
      spec.items.push_back(strings::Text(part));
  } else if (dynamic_cast<const PositionParameter*>(&p) != nullptr) {
    spec.kind = ControlKind::kPosition;
    spec.label.clear();  // a marker in the preview
  } else if (const auto* c = dynamic_cast<const FlagConnectionsParameter*>(&p)) {
    spec.kind = ControlKind::kConnections;
    spec.label = strings::Text("Attachments");
    spec.maximum = (1 << kFlagAttachmentCount) - 1;
    spec.items = c->Choices();
    for (const char* key : {"Attachments Top Left Help", "Attachments Top Center Help", "Attachments Top Right Help",
                            "Attachments Center Left Help", "Attachments Center Right Help",
                            "Attachments Bottom Left Help", "Attachments Bottom Center Help",
                            "Attachments Bottom Right Help"})
      spec.itemHelp.push_back(strings::Text(key));
  } else if (dynamic_cast<const PuzzleArrangementParameter*>(&p) != nullptr) {
    spec.kind = ControlKind::kArrangement;
    spec.maximum = kPuzzleMaxSize;
  } else if (const auto* fill = dynamic_cast<const LayerFillParameter*>(&p)) {
    spec.kind = ControlKind::kLayerFill;
    for (uint32_t mode : FillChoices(*fill, transparentImage)) {
      const TextKeys& keys = mode == kFillWithColor     ? fill->fillChoice
                             : mode == kFillKeepOriginal ? fill->keepChoice
                                                         : fill->transparentChoice;
      spec.items.push_back(keys.LabelText());
      spec.itemHelp.push_back(keys.HelpText());
      if (mode == kFillWithColor) {
        spec.swatch = fill->colorSwatch.LabelText();
        spec.swatchHelp = fill->colorSwatch.HelpText();
      }
    }
    spec.maximum = double(spec.items.size()) - 1;
  }
  return spec;
}

// The attachments as the bits of a number, first attachment lowest.
int32_t ConnectionBits(const FlagConnections& c) {
  int32_t bits = 0;
  for (int32_t i = 0; i < kFlagAttachmentCount; ++i) bits |= c.attached[i] ? 1 << i : 0;
  return bits;
}

int32_t SelectedIndex(const ListboxParameter& list) {
  const auto* selected = list.Selected();
  return selected != nullptr ? int32_t(selected - list.items.data()) : 0;
}

}  // namespace

ToolkitSession::ToolkitSession(ps::FilterRecord& host, RunRecord& run, std::span<uint8_t> block)
    : host_(host), run_(run), block_(block) {
  random_.SeedFromClock();
}

ToolkitSession::~ToolkitSession() { Finish(DialogWindow::kCancel); }

int32_t ToolkitSession::Open(DialogWindow& window) {
  if (model_) return -1;
  int32_t err = 0;
  try {
    model_ = std::make_unique<KalveroFilterDialogModel>(err, window, host_, run_, block_, queue_);
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
  }
  if (err != 0) {
    model_.reset();
    return err;
  }
  // The worker's host calls come here; Tick runs them.
  Session().dialogQueue = &queue_;
  return 0;
}

int32_t ToolkitSession::Finish(int32_t shown) {
  if (!model_) return shown;
  model_->Detach();
  for (auto& p : model_->Parameters()) p->control = nullptr;  // the window's controls are gone
  shown_.clear();
  int32_t result = shown;
  switchTo_ = model_->SwitchRequested();
  if (const auto ended = model_->Ended()) {
    result = *ended;
  } else {
    model_->Cancel();
    if (shown == 0) result = DialogWindow::kCancel;
  }
  model_.reset();
  Session().dialogQueue = nullptr;
  queue_.Close();
  return result;
}

FilterParameter* ToolkitSession::At(int32_t control) const {
  if (!model_ || control < 0 || control >= model_->Parameters().count) return nullptr;
  return model_->Parameters().items[size_t(control)].get();
}

std::string ToolkitSession::Title() const {
  const int32_t id = run_.filter->filterId;
  return id >= 0 && id < kEffectCount ? Text(EffectNameKey(id)) : std::string(kProductName);
}

std::string ToolkitSession::Caption() const { return kProductName; }

std::string ToolkitSession::Text(std::string_view key) const { return strings::Text(key); }

// What the effect does, then how its dialog is used where the effect says.
std::string ToolkitSession::DialogHelp() const {
  std::string help;
  const int32_t id = run_.filter->filterId;
  const std::string lost = platform::Narrow(strings::kLostString);
  for (const std::string& key : {id >= 0 && id < kEffectCount ? std::string(EffectNameKey(id)) + " Help" : std::string(),
                                 model_ ? model_->Parameters().dialogHelp : std::string()}) {
    const std::string text = key.empty() ? std::string() : Text(key);
    if (!text.empty() && text != lost) help += (help.empty() ? "" : " ") + text;
  }
  return help;
}

std::vector<std::string> ToolkitSession::Effects() const {
  std::vector<std::string> names;
  for (int32_t n = 0; n < kEffectCount; ++n) names.push_back(CreateFilter(n) ? Text(EffectNameKey(n)) : std::string());
  return names;
}

std::vector<std::string> ToolkitSession::PageLabels() const {
  std::vector<std::string> labels{Text("Basic")};
  if (model_)
    for (const std::string& page : model_->Parameters().pages) labels.push_back(Text(page));
  return labels;
}

std::vector<ControlSpec> ToolkitSession::Controls() const {
  std::vector<ControlSpec> specs;
  if (model_)
    for (const auto& p : model_->Parameters()) specs.push_back(SpecOf(*p, TransparentImage()));
  return specs;
}

void ToolkitSession::Bind(int32_t control, toolkit::ControlView& shown) {
  FilterParameter* p = At(control);
  if (p == nullptr) return;
  shown_.push_back(std::make_unique<ShownControl>(shown));
  p->control = shown_.back().get();
  run_.filter->UpdateParameterStates(model_->Parameters(), block_.data());
}

double ToolkitSession::Number(int32_t control) const {
  const FilterParameter* p = At(control);
  if (const auto* s = dynamic_cast<const SliderParameter*>(p)) return *s->value;
  if (const auto* l = dynamic_cast<const LengthSliderParameter*>(p)) return l->value->amount;
  if (const auto* c = dynamic_cast<const CheckboxParameter*>(p)) return *c->value ? 1 : 0;
  if (const auto* list = dynamic_cast<const ListboxParameter*>(p)) return SelectedIndex(*list);
  if (const auto* d = dynamic_cast<const DirectionParameter*>(p)) return *d->value;
  if (const auto* seed = dynamic_cast<const RandomSeedParameter*>(p)) return *seed->value;
  if (const auto* c = dynamic_cast<const FlagConnectionsParameter*>(p)) return ConnectionBits(*c->value);
  if (const auto* fill = dynamic_cast<const LayerFillParameter*>(p))
    return FillChoice(FillChoices(*fill, TransparentImage()), fill->value->mode);
  return 0.0;
}

std::string ToolkitSession::Value(int32_t control) const {
  const FilterParameter* p = At(control);
  return p != nullptr ? p->ValueText() : std::string();
}

std::string ToolkitSession::SwatchColor(int32_t control) const {
  const auto* fill = dynamic_cast<const LayerFillParameter*>(At(control));
  return fill != nullptr ? ColorValueText(fill->value->color) : std::string();
}

bool ToolkitSession::TransparentImage() const { return HostPixelFormat(host_, OutputPlanes(host_)).hasAlpha; }

std::string ToolkitSession::Refusal(const FilterParameter* p, std::string_view value) const {
  const std::string refused = FormatText(Text("Refused Value"), value);
  return p != nullptr ? p->Label() + ": " + refused : refused;
}

std::string ToolkitSession::SetNumber(int32_t control, double value) {
  FilterParameter* p = At(control);
  if (p == nullptr || !std::isfinite(value)) return Refusal(p, param_io::Format("%g", value));
  model_->StopRendering();
  if (auto* s = dynamic_cast<SliderParameter*>(p)) {
    *s->value = value;
  } else if (auto* l = dynamic_cast<LengthSliderParameter*>(p)) {
    l->value->amount = value;
  } else if (auto* c = dynamic_cast<CheckboxParameter*>(p)) {
    *c->value = value != 0.0;
  } else if (auto* list = dynamic_cast<ListboxParameter*>(p)) {
    const double i = std::floor(value);
    if (i < 0 || i >= double(list->items.size())) return Refusal(p, param_io::Format("%g", value));
    *list->value = list->items[size_t(i)].value;
  } else if (auto* d = dynamic_cast<DirectionParameter*>(p)) {
    *d->value = value;
  } else if (auto* seed = dynamic_cast<RandomSeedParameter*>(p)) {
    *seed->value = uint16_t(std::clamp(std::lround(value), 0L, 65535L));
  } else if (auto* c = dynamic_cast<FlagConnectionsParameter*>(p)) {
    const long bits = std::lround(value);
    if (bits < 0 || bits >= 1 << kFlagAttachmentCount) return Refusal(p, param_io::Format("%g", value));
    for (int32_t i = 0; i < kFlagAttachmentCount; ++i) c->value->attached[i] = (bits >> i & 1) != 0;
  } else if (auto* fill = dynamic_cast<LayerFillParameter*>(p)) {
    const std::vector<uint32_t> modes = FillChoices(*fill, TransparentImage());
    const double i = std::floor(value);
    if (i < 0 || i >= double(modes.size())) return Refusal(p, param_io::Format("%g", value));
    fill->value->mode = modes[size_t(i)];
  } else {
    return Refusal(p, param_io::Format("%g", value));
  }
  model_->ParametersChanged();
  return {};
}

std::string ToolkitSession::SetValue(int32_t control, std::string_view text) {
  FilterParameter* p = At(control);
  if (p == nullptr) return Refusal(p, text);
  model_->StopRendering();
  std::string error;
  if (p->SetFromText(text, error) != 0) {
    model_->Preview().Invalidate();  // the stopped render starts again
    return Refusal(p, text);
  }
  model_->ParametersChanged();
  return {};
}

bool ToolkitSession::Arrangement(int32_t control, PuzzleArrangement& out, Rect& area) const {
  const auto* p = dynamic_cast<const PuzzleArrangementParameter*>(At(control));
  if (p == nullptr) return false;
  out = *p->value;
  area = AreaRect(host_, &run_);
  return true;
}

std::string ToolkitSession::Arrange(int32_t control, toolkit::ArrangeCommand command, int32_t x, int32_t y) {
  auto* p = dynamic_cast<PuzzleArrangementParameter*>(At(control));
  if (p == nullptr) return Refusal(p, std::to_string(control));
  PuzzleArrangement& a = *p->value;
  using C = toolkit::ArrangeCommand;
  const bool piece = x >= 0 && y >= 0 && x < a.columns && y < a.rows;
  const bool edge = command == C::kFlipHorizontalEdge ? piece && y > 0 : piece && x > 0;
  if ((command == C::kTogglePiece && !piece) ||
      ((command == C::kFlipHorizontalEdge || command == C::kFlipVerticalEdge) && !edge))
    return Refusal(p, std::to_string(x) + "," + std::to_string(y));
  if (command == C::kColumns && (x < 1 || x > kPuzzleMaxSize)) return Refusal(p, std::to_string(x));
  model_->StopRendering();
  const Rect area = AreaRect(host_, &run_);
  switch (command) {
    case C::kColumns: SetPuzzleColumns(a, x, area.Width(), area.Height()); break;
    case C::kKnockOutHalf: KnockOutPieces(a, 0.5, random_); break;
    case C::kRestoreAll: RestoreAllPieces(a); break;
    case C::kInvertAll: InvertAllPieces(a); break;
    case C::kRandomizeConnectors: RandomizeConnectors(a, random_); break;
    case C::kTogglePiece: a.Piece(x, y) = !a.Piece(x, y); break;
    case C::kFlipHorizontalEdge: a.HorizontalEdge(x, y) = !a.HorizontalEdge(x, y); break;
    case C::kFlipVerticalEdge: a.VerticalEdge(x, y) = !a.VerticalEdge(x, y); break;
  }
  model_->ParametersChanged();
  return {};
}

double ToolkitSession::TrackPosition(int32_t control, double value) const {
  const auto* range = dynamic_cast<const SliderRange*>(At(control));
  return range != nullptr ? range->ValueToTrack(value) : 0.0;
}

double ToolkitSession::TrackValue(int32_t control, double position) const {
  const auto* range = dynamic_cast<const SliderRange*>(At(control));
  return range != nullptr ? range->TrackToValue(position) : 0.0;
}

void ToolkitSession::Gesture(bool begins) {
  if (model_) model_->Gesture(begins);
}

bool ToolkitSession::Command(int32_t command) { return model_ && model_->Command(command); }

std::vector<std::string> ToolkitSession::StoredSettings(bool shipped) {
  return model_ ? model_->StoredSettings(shipped) : std::vector<std::string>{};
}

std::optional<Rect> ToolkitSession::WindowPlacement() const {
  return model_ ? model_->WindowPlacement() : std::nullopt;
}

void ToolkitSession::KeepWindowPlacement(const Rect& window) {
  if (model_) model_->KeepWindowPlacement(window);
}

bool ToolkitSession::DeleteStoredSetting(const std::string& name) {
  return model_ && model_->DeleteStoredSetting(name);
}

bool ToolkitSession::RenameStoredSetting(const std::string& name) {
  return model_ && model_->RenameStoredSetting(name);
}

void ToolkitSession::Tick() {
  if (!model_) return;
  queue_.Pump();
  model_->Preview().Tick();
}

Size ToolkitSession::ImageSize() const { return {host_.imageSize.h, host_.imageSize.v}; }

PointD ToolkitSession::StartOrigin(Size viewSize, double zoom) const {
  return model_ ? model_->StartOrigin(viewSize, zoom) : PointD{};
}

void ToolkitSession::SetView(PointD origin, double zoom, Size viewSize) {
  if (model_) model_->SetView(origin, zoom, viewSize);
}

bool ToolkitSession::Preview(toolkit::PreviewFrame& out, bool unprocessed) const {
  return model_ && model_->Frame(out, unprocessed);
}

// --- running the toolkit --------------------------------------------------------

namespace {

void Tell(ps::FilterRecord& host, const std::string& text) {
  platform::ShowMessage(host.platformData, ps::messageError, kProductName, text);
}

std::string NoDisplayText() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x == nullptr || *x == '\0') && (wayland == nullptr || *wayland == '\0'))
    return strings::Text("Error - No Display");
  return FormatText(strings::Text("Error - Cannot Open Display"), x != nullptr && *x != '\0' ? x : wayland);
}

// The run's effect and block as the host gave them, kept from the first
// switch to another effect until the dialog ends.
class EffectBeforeSwitching {
 public:
  EffectBeforeSwitching(const ps::FilterRecord& host, RunRecord& run, std::span<uint8_t> block)
      : host_(host), run_(run), block_(block) {}
  // Unless the dialog was confirmed, the host's effect and values return.
  ~EffectBeforeSwitching() {
    if (!effect_) return;
    run_.filter = std::move(effect_);
    std::copy(values_.begin(), values_.end(), block_.begin());
  }
  EffectBeforeSwitching(const EffectBeforeSwitching&) = delete;
  EffectBeforeSwitching& operator=(const EffectBeforeSwitching&) = delete;

  // The run renders `next` from here on, with its Last Used values if it
  // has some, else its defaults.
  bool Switch(int32_t next) {
    std::unique_ptr<Filter> effect = CreateFilter(next);
    if (!effect || effect->ParameterBlockSize() > block_.size()) return false;
    if (!effect_) {
      effect_ = std::move(run_.filter);
      values_.assign(block_.begin(), block_.end());
    }
    run_.filter = std::move(effect);
    run_.filter->SetDefaults(block_.data());
    // Failing that, it keeps its defaults.
    (void)LoadSetting(*run_.filter, LastUsedName(), block_, ResolutionFromFixed(host_.imageHRes));
    return true;
  }
  // The dialog was confirmed: the run keeps the effect it switched to.
  void Keep() { effect_.reset(); }

 private:
  const ps::FilterRecord& host_;
  RunRecord& run_;
  std::span<uint8_t> block_;
  std::unique_ptr<Filter> effect_;
  std::vector<uint8_t> values_;
};

}  // namespace

int32_t RunDialogWith(toolkit::RunDialogProc run, ps::FilterRecord& host, RunRecord& record,
                      std::span<uint8_t> block) {
  int32_t result = 0;
  try {
    EffectBeforeSwitching before(host, record, block);
    for (;;) {
      int32_t next;
      {
        ToolkitSession session(host, record, block);
        result = session.Finish(run(session));
        next = session.SwitchRequested();
      }
      if (next < 0 || result != DialogWindow::kCancel || !before.Switch(next)) break;
    }
    if (result == DialogWindow::kOK) before.Keep();
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  } catch (...) {
    return kErrGeneral;
  }
  if (result == toolkit::kNoDisplay) {
    Tell(host, NoDisplayText());
    return 1;
  }
  return result;
}

toolkit::RunDialogProc LoadToolkit(const std::filesystem::path& folder, std::string& why) {
  // Loaded once and kept: a window system's libraries do not unload cleanly.
  static std::mutex mutex;
  static std::map<std::filesystem::path, toolkit::RunDialogProc> loaded;
  std::lock_guard lock(mutex);
  const std::filesystem::path file = folder / toolkit::kLibraryName;
  if (const auto it = loaded.find(file); it != loaded.end()) return it->second;
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    why = strings::Text("Error - No Dialog Toolkit");
    return nullptr;
  }
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* symbol = module != nullptr ? dlsym(module, toolkit::kRunDialogSymbol) : nullptr;
  if (symbol == nullptr) {
    const char* error = dlerror();
    why = FormatText(strings::Text("Error - Loading Dialog Toolkit"), error != nullptr ? error : file.string());
    if (module != nullptr) dlclose(module);
    return nullptr;
  }
  const auto run = reinterpret_cast<toolkit::RunDialogProc>(symbol);
  loaded.emplace(file, run);
  return run;
}

int32_t RunToolkitDialog(ps::FilterRecord& host, RunRecord& run, std::span<uint8_t> block) {
  std::string why;
  const toolkit::RunDialogProc proc = LoadToolkit(platform::ModulePath().parent_path(), why);
  if (proc == nullptr) {
    Tell(host, why);
    return 1;
  }
  return RunDialogWith(proc, host, run, block);
}

}  // namespace kv
