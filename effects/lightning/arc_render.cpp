// Drawing the arcs: their cores stamped into an intensity image, a glow
// blurred from it, flashes, and the colour between the outer and the inner
// colour put over the output.
#include <algorithm>
#include <cmath>
#include <new>

#include "effects/lightning/arc_engine.h"
#include "effects/lightning/core_tiles.h"
#include "host/host_color.h"
#include "image/blur.h"
#include "image/pixel_ops.h"

namespace kv {

Rect RectAtScale(const Rect& r, double scale) {
  return {int32_t(std::floor(r.left / scale)), int32_t(std::floor(r.top / scale)), int32_t(std::ceil(r.right / scale)),
          int32_t(std::ceil(r.bottom / scale))};
}

namespace {

// The mask over [x0, x1) of row y, 0 beyond its rectangle.
void MaskRow(const ByteMask* mask, int32_t y, int32_t x0, int32_t x1, uint8_t* out) {
  std::fill(out, out + (x1 - x0), uint8_t(0));
  if (mask == nullptr || y < mask->bounds.top || y >= mask->bounds.bottom) return;
  const int32_t from = std::max(x0, mask->bounds.left), to = std::min(x1, mask->bounds.right);
  if (from < to) std::copy_n(mask->Address(from, y), to - from, out + (from - x0));
}

// Row y of the glow's source over [x0, x0 + width): gain * k * core, or with
// a mask gain * max(mask, k * core).
struct GlowSource {
  const CoreTiles& core;
  double gain, k;
  const ByteMask* mask;
  int32_t x0, width;
  std::vector<double> a = std::vector<double>(size_t(width));
  std::vector<uint8_t> m = std::vector<uint8_t>(mask != nullptr ? size_t(width) : 0);

  void Row(int32_t y, float* g) {
    core.ReadRow(y, x0, x0 + width, a.data());
    if (mask == nullptr) {
      for (size_t i = 0; i < size_t(width); ++i) g[i] = float(gain * k * a[i]);
      return;
    }
    MaskRow(mask, y, x0, x0 + width, m.data());
    for (size_t i = 0; i < size_t(width); ++i) g[i] = float(gain * std::max(double(m[i]), k * a[i]));
  }
};

struct Flash {
  PointD centre;
  double radius, value;
};

// Every pixel's intensity as an index into the colour table.
struct ColorTable {
  PixelFormat format;  // the output's colours and an alpha
  std::vector<uint8_t> entries;

  ColorTable(const Color& inner, const Color& outer, const PixelFormat& output)
      : format(PixelFormat::Of(output.mode, output.colorChannels, true)),
        entries(256 * size_t(format.channelCount)) {
    const BytePixel in = HostColorPixel(inner, output, 255), out = HostColorPixel(outer, output, 0);
    const int32_t colors = output.colorChannels;
    for (int32_t t = 0; t < 256; ++t) {
      uint8_t* e = &entries[size_t(t) * size_t(format.channelCount)];
      for (int32_t c = 0; c < colors; ++c) e[c] = uint8_t(out[c] + (in[c] - out[c]) * t / 255);
      e[colors] = uint8_t(t);
    }
  }
  const uint8_t* At(int32_t t) const { return &entries[size_t(t) * size_t(format.channelCount)]; }
};

// Puts the arcs' colour over the output's rows of T, one at a time, given
// each row's blurred glow from T.left on.
class Compositor {
 public:
  Compositor(ByteImage& output, const Rect& T, const CoreTiles& core, const std::vector<Flash>& flashes,
             const ColorTable& colors, const ByteMask* mask)
      : output_(output), T_(T), core_(core), flashes_(flashes), colors_(colors), mask_(mask),
        a_(size_t(T.Width())), g_(size_t(T.Width())),
        source_(size_t(T.Width()) * size_t(colors.format.channelCount)), m_(mask != nullptr ? size_t(T.Width()) : 0) {}

  void Row(int32_t y, const float* glow) {
    const int32_t width = T_.Width(), step = colors_.format.channelCount, alpha = colors_.format.colorChannels;
    core_.ReadRow(y, T_.left, T_.right, a_.data());
    std::copy_n(glow, width, g_.begin());
    // Flashes are stamped row by row: each pixel sees them in the same order.
    SingleChannelImage<double> glowRow({T_.left, y, T_.right, y + 1}, g_.data(), 0);
    for (const Flash& f : flashes_) StampFlash(glowRow, f.centre, f.radius, f.value);

    uint8_t* s = source_.data();
    for (size_t i = 0; i < size_t(width); ++i, s += step) {
      const double v = (255.0 - a_[i]) * g_[i] / 255.0 + a_[i] + 0.5;
      const uint8_t* c = colors_.At(int32_t(std::clamp(v, 0.0, 255.0)));
      for (int32_t k = 0; k < step; ++k) s[k] = c[k];
    }
    if (mask_ != nullptr) {
      MaskRow(mask_, y, T_.left, T_.right, m_.data());
      s = source_.data() + alpha;
      for (size_t i = 0; i < size_t(width); ++i, s += step) *s = uint8_t(*s * (255 - m_[i]) / 255);
    }
    // Where the colour is clear the output stays as it is: only the runs
    // between are put over it.
    uint8_t* out = output_.Address(T_.left, y);
    const int32_t outStep = output_.pixelStep;
    for (int32_t x = 0; x < width;) {
      while (x < width && source_[size_t(x) * step + alpha] == 0) ++x;
      int32_t end = x;
      while (end < width && source_[size_t(end) * step + alpha] != 0) ++end;
      if (end > x)
        CompositeRowOver(out + x * outStep, &source_[size_t(x) * step], colors_.format, out + x * outStep,
                         output_.format, end - x);
      x = end;
    }
  }

 private:
  ByteImage& output_;
  Rect T_;
  const CoreTiles& core_;
  const std::vector<Flash>& flashes_;
  const ColorTable& colors_;
  const ByteMask* mask_;
  std::vector<double> a_, g_;
  std::vector<uint8_t> source_, m_;
};

}  // namespace

int32_t RenderArcs(const ArcNetwork& network, ByteImage& output, const Rect& drawn, double scale, const ArcLook& look,
                   const ByteMask* mask, Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to) {
  const Rect whole = RectAtScale(drawn, scale), T = output.bounds.Intersect(whole);
  if (T.IsEmpty()) return 0;
  try {
    CoreTiles core(whole);
    core.Stamp(network, scale);

    const ByteMask* glowMask = look.useMask ? mask : nullptr;
    const double gain = 1.5 * look.glowOpacity, k = 0.5 * std::max(1.0, look.glowRadius / look.coreRadius) + 0.5;
    GlowSource source{core, gain, k, glowMask, whole.left, whole.Width()};

    std::vector<Flash> flashes;
    const double flashRadius = 8.0 * look.glowRadius / scale * look.flashFactor, flashValue = look.glowOpacity * 240.0;
    for (const Arc& arc : network.arcs)
      for (const ArcPoint* p : {&arc.front(), &arc.back()})
        if (p->flash) flashes.push_back({{p->x / scale, p->y / scale}, flashRadius, flashValue});
    const ColorTable colors(look.inner, look.outer, output.format);
    Compositor composite(output, T, core, flashes, colors, glowMask);

    // Without opacity the glow is nothing, blurred or not.
    const double radius = gain > 0.0 ? look.glowRadius / scale : 0.0;
    if (radius <= kFloatBlurTransformAbove) {
      // The direct blur needs only the rows within its reach: the glow is
      // made, blurred and put over the output a row at a time.
      const int32_t offset = T.left - whole.left;
      return BlurFloatRows(
          whole.Width(), whole.Height(), 1, radius, T.top - whole.top, T.bottom - whole.top,
          [&](int32_t y, float* row) { source.Row(whole.top + y, row); },
          [&](int32_t y, const float* row) {
            composite.Row(whole.top + y, row + offset);
            return 0;
          },
          abort, progress, from, to);
    }

    // Wider glows are convolved over the whole rectangle at once.
    int32_t err = 0;
    SingleChannelImage<float> glow(err, whole);
    if (err != 0) return err;
    for (int32_t y = whole.top; y < whole.bottom; ++y) source.Row(y, glow.Row(y));
    RowBuffer* rows = nullptr;
    if ((err = glow.RowView(rows)) != 0) return err;
    const double middle = from + 0.5 * (to - from);
    Blur(err, *rows, radius, abort, false, nullptr, progress, from, middle);
    if (err != 0) return err;
    for (int32_t y = T.top; y < T.bottom; ++y) {
      composite.Row(y, glow.Address(T.left, y));
      ReportProgress(progress, middle, to, double(y - T.top + 1) / T.Height());
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

}  // namespace kv
