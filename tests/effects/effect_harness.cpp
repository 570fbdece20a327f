#include "tests/effects/effect_harness.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "effects/filter_table.h"
#include "entry/dialog_hook.h"
#include "entry/entry.h"
#include "framework/filter.h"
#include "host/host_calls.h"
#include "image/progress.h"
#include "platform/system.h"
#include "tests/support/fake_host.h"
#include "tests/support/loaded_core.h"
#include "tests/ui/scripted_dialog.h"
#include "ui/dialog_model.h"

namespace kv::test {

namespace {

// The host state the core sees during a selector, for renders that call the
// effect straight.
class ScopedSession {
 public:
  explicit ScopedSession(ps::FilterRecord& record) : saved_(Session()) {
    Session().record = &record;
    Session().hostThread = platform::CurrentThread();
  }
  ~ScopedSession() { Session() = saved_; }

 private:
  HostSession saved_;
};

void FillBlock(int32_t effect, void* block, const BlockEdit& edit) {
  std::unique_ptr<Filter> filter = CreateFilter(effect);
  filter->SetDefaults(block);
  if (edit) edit(block);
}

// A host holding `in`, with the block and the selection of `how`.
std::unique_ptr<FakeHost> HostFor(int32_t effect, const Picture& in, const HostRender& how) {
  platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
  auto host = std::make_unique<FakeHost>(in.width, in.height, in.mode, in.colorPlanes, in.alpha);
  host->pixels = in.pixels;
  host->record.imageHRes = host->record.imageVRes = ps::Fixed(std::lround(how.resolution * 65536));
  if (!how.selection.empty()) host->SetSelection(how.selection);
  host->record.parameters = host->handleProcs.newProc(int32_t(kParametersHandleSize));
  FillBlock(effect, host->handleProcs.lockProc(host->record.parameters, false), how.edit);
  return host;
}

// The window's picture back in the layout of `like`.
Picture FromFrame(const toolkit::PreviewFrame& frame, const Picture& like) {
  Picture p = like;
  p.width = frame.size.width;
  p.height = frame.size.height;
  p.pixels.clear();
  for (size_t i = 0; i < frame.rgba.size(); i += 4) {
    p.pixels.insert(p.pixels.end(), frame.rgba.begin() + ptrdiff_t(i), frame.rgba.begin() + ptrdiff_t(i) + p.colorPlanes);
    if (p.alpha) p.pixels.push_back(frame.rgba[i + 3]);
  }
  return p;
}

}  // namespace

Picture TestPicture(int width, int height, int16_t mode, int colorPlanes, bool alpha) {
  Picture p{width, height, mode, colorPlanes, alpha, {}};
  p.pixels.resize(size_t(width) * height * p.Planes());
  uint8_t* out = p.pixels.data();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < colorPlanes; ++c) {
        const double wave = 40.0 * std::sin((x + 2 * y) * 0.05 * (c + 1)) + 30.0 * std::cos(y * 0.11 - c);
        *out++ = uint8_t(std::clamp(128.0 + wave + ((x * 7 + y * 13 + c * 29) % 23), 0.0, 255.0));
      }
      if (alpha) *out++ = uint8_t(x < width / 4 ? 0 : std::min(255, 64 + 4 * y));
    }
  return p;
}

Picture SmoothPicture(int width, int height) {
  Picture p{width, height, ps::plugInModeRGBColor, 3, false, {}};
  p.pixels.resize(size_t(width) * height * 3);
  uint8_t* out = p.pixels.data();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) *out++ = uint8_t(128.0 + 60.0 * std::sin(x * 0.02 + c) + 50.0 * std::cos(y * 0.03 - c));
  return p;
}

Picture Reduce(const Picture& full, int factor) {
  Picture r = full;
  r.width = (full.width + factor - 1) / factor;
  r.height = (full.height + factor - 1) / factor;
  const int planes = full.Planes();
  r.pixels.assign(size_t(r.width) * r.height * planes, 0);
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x)
      for (int c = 0; c < planes; ++c) {
        int sum = 0, n = 0;
        for (int v = y * factor; v < std::min(full.height, (y + 1) * factor); ++v)
          for (int u = x * factor; u < std::min(full.width, (x + 1) * factor); ++u, ++n) sum += full.At(u, v)[c];
        r.pixels[(size_t(y) * r.width + x) * planes + c] = uint8_t((sum + n / 2) / n);
      }
  return r;
}

std::vector<uint8_t> OvalSelection(int width, int height) {
  std::vector<uint8_t> mask(size_t(width) * height);
  const double a = 0.3 * width, b = 0.3 * height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double u = (x + 0.5 - width / 2.0) / a, v = (y + 0.5 - height / 2.0) / b;
      const double inside = (1.0 - std::sqrt(u * u + v * v)) * std::min(a, b);  // pixels, roughly
      mask[size_t(y) * width + x] = uint8_t(std::clamp(128.0 + 64.0 * inside, 0.0, 255.0));
    }
  return mask;
}

Picture RenderThroughHost(int32_t effect, const Picture& in, const HostRender& how, int16_t* error) {
  const std::unique_ptr<FakeHost> host = HostFor(effect, in, how);
  host->entry = how.entry != nullptr ? how.entry : Core().entry;
  host->tileSize = how.tileSize;
  const bool ok = host->Run(effect);
  if (error != nullptr) *error = ok ? 0 : host->lastResult;
  if (!ok) {
    for (const std::string& m : host->messages) std::fprintf(stderr, "effect %d: %s\n", effect, m.c_str());
    return {};
  }
  Picture out = in;
  out.pixels = host->pixels;
  return out;
}

Picture RenderPreview(int32_t effect, const Picture& in, int factor, const HostRender& how) {
  // The dialog runs on the entry point linked in here: a loaded core keeps
  // its dialog hook to itself.
  const std::unique_ptr<FakeHost> host = HostFor(effect, in, how);
  host->entry = &EntryPoint;
  host->descriptorParameters.playInfo = ps::plugInDialogDisplay;  // picked from the menu
  Picture preview;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    const Size view{(in.width + factor - 1) / factor, (in.height + factor - 1) / factor};
    s.SetView({0.0, 0.0}, 1.0 / factor, view);
    toolkit::PreviewFrame frame;
    if (TickUntil(s, [&] { return w.shown > 0 || !w.errors.empty(); }) && w.errors.empty() &&
        s.Preview(frame, false))
      preview = FromFrame(frame, in);
    for (const std::string& e : w.errors) std::fprintf(stderr, "effect %d preview: %s\n", effect, e.c_str());
    s.Command(kCommandCancelButton);
    return w.Answer();
  };
  SetDialogRunner(&ScriptedDialogRunner);
  host->Run(effect, true);
  SetDialogRunner(nullptr);
  CurrentDialogScript() = nullptr;
  return preview;
}

struct DirectRender::State {
  State(int32_t effect, Picture& reduced, double scale, const BlockEdit& edit, std::vector<uint8_t>& selection)
      : fullW(int(std::lround(reduced.width * scale))),
        fullH(int(std::lround(reduced.height * scale))),
        full(fullW == reduced.width && fullH == reduced.height),
        host(fullW, fullH, reduced.mode, reduced.colorPlanes, reduced.alpha,
             full ? std::move(reduced.pixels) : std::vector<uint8_t>{}),
        session(host.record),
        filter(CreateFilter(effect)),
        block(kParametersHandleSize),
        output{reduced.width, reduced.height, reduced.mode, reduced.colorPlanes, reduced.alpha,
               full ? host.pixels : reduced.pixels},
        selectionBytes(std::move(selection)),
        bounds{0, 0, reduced.width, reduced.height},
        fullBounds{0, 0, fullW, fullH} {
    // The host holds the image at full size, for effects that read all of it.
    // At full size the render reads it where it lies, as from a host's
    // buffer, and the selection is its own mask: the harness holds no more
    // than a host would.
    if (!full) {
      for (int y = 0; y < fullH; ++y)
        for (int x = 0; x < fullW; ++x)
          std::memcpy(&host.pixels[(size_t(y) * fullW + x) * reduced.Planes()],
                      reduced.At(std::min(int(x / scale), reduced.width - 1),
                                 std::min(int(y / scale), reduced.height - 1)),
                      size_t(reduced.Planes()));
    }
    if (!full) input = std::move(reduced.pixels);
    if (selectionBytes.empty() || !full) maskBytes.assign(size_t(reduced.width) * reduced.height, 255);
    if (!selectionBytes.empty() && !full)
      for (int y = 0; y < reduced.height; ++y)
        for (int x = 0; x < reduced.width; ++x)
          maskBytes[size_t(y) * reduced.width + x] = selectionBytes[size_t(std::min(int(y * scale), fullH - 1)) * fullW +
                                                                    std::min(int(x * scale), fullW - 1)];
    FillBlock(effect, block.data(), edit);
    const PixelFormat format = PixelFormat::Of(reduced.mode == ps::plugInModeGrayScale ? kModeGrey
                                               : reduced.mode == ps::plugInModeCMYKColor ? kModeCMYK
                                               : reduced.mode == ps::plugInModeLabColor  ? kModeLab
                                                                                          : kModeRGB,
                                               reduced.colorPlanes, reduced.alpha);
    in = ByteImage(bounds, full ? host.pixels.data() : input.data(), 0, format);
    result = ByteImage(bounds, output.pixels.data(), 0, format);
    mask = ByteMask(bounds, maskBytes.empty() ? selectionBytes.data() : maskBytes.data(), 0);
    fullMask = ByteMask(fullBounds, selectionBytes.data(), 0);
    c.host = &host.record;
    c.imageBounds = &fullBounds;
    c.area = &fullBounds;
    c.sourceBounds = &bounds;
    c.sourceArea = &bounds;
    c.tile = &bounds;
    c.input = &in;
    c.output = &result;
    c.mask = &mask;
    c.maskSource = selectionBytes.empty() ? &mask : &fullMask;
    c.block = block.data();
    c.imageMode = reduced.mode;
    c.foreground = host.record.foreColor;
    c.background = host.record.backColor;
    c.scale = scale;
    c.hasTransparency = reduced.alpha;
  }

  int fullW, fullH;
  bool full;
  FakeHost host;
  ScopedSession session;
  std::unique_ptr<Filter> filter;
  std::vector<uint8_t> block;
  Picture output;
  std::vector<uint8_t> input, maskBytes, selectionBytes;
  Rect bounds, fullBounds;
  ByteImage in, result;
  ByteMask mask, fullMask;
  RenderContext c;
};

DirectRender::DirectRender(int32_t effect, Picture reduced, double scale, const BlockEdit& edit,
                           std::vector<uint8_t> selection)
    : state_(std::make_unique<State>(effect, reduced, scale, edit, selection)) {}

DirectRender::~DirectRender() = default;

bool DirectRender::Run() {
  State& s = *state_;
  int32_t err = s.filter->PrepareRender(s.c);
  if (err == 0) err = s.filter->Render(s.c);
  s.filter->FinishRender(s.block.data());
  return err == 0;
}

void DirectRender::Restart() {
  const int32_t effect = state_->filter->filterId;
  state_->filter.reset();
  state_->filter = CreateFilter(effect);
}

const Picture& DirectRender::Output() const { return state_->output; }

void* DirectRender::Block() { return state_->block.data(); }

double MeanDifference(const Picture& a, const Picture& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
  return sum / double(a.pixels.size());
}

int TileSizeThatDiffers(int32_t effect, const Picture& in, const HostRender& how, int maxLevel) {
  HostRender whole = how;
  whole.tileSize = 0;
  const Picture expected = RenderThroughHost(effect, in, whole);
  for (const int size : {13, 37, 100}) {
    HostRender tiled = how;
    tiled.tileSize = size;
    const Picture got = RenderThroughHost(effect, in, tiled);
    if (got.pixels.size() != expected.pixels.size() || expected.pixels.empty()) return size;
    for (size_t i = 0; i < got.pixels.size(); ++i)
      if (std::abs(int(got.pixels[i]) - int(expected.pixels[i])) > maxLevel) return size;
  }
  return 0;
}

PreviewDifference ComparePreview(int32_t effect, const Picture& in, int factor, const HostRender& how,
                                 const BlockEdit& other) {
  const Picture full = Reduce(RenderThroughHost(effect, in, how), factor);
  HostRender changed = how;
  changed.edit = [&how, &other](void* block) {
    if (how.edit) how.edit(block);
    other(block);
  };
  return {MeanDifference(full, RenderPreview(effect, in, factor, how)),
          MeanDifference(full, RenderPreview(effect, in, factor, changed))};
}

}  // namespace kv::test
