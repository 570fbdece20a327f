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

// The glow's source: gain * k * core, or with a mask gain * max(mask, k * core).
void GlowSource(SingleChannelImage<float>& glow, const CoreTiles& core, double gain, double k, const ByteMask* mask) {
  const Rect& G = glow.bounds;
  const size_t width = size_t(G.Width());
  std::vector<double> a(width);
  std::vector<uint8_t> m(mask != nullptr ? width : 0);
  for (int32_t y = G.top; y < G.bottom; ++y) {
    core.ReadRow(y, G.left, G.right, a.data());
    float* g = glow.Row(y);
    if (mask == nullptr) {
      for (size_t i = 0; i < width; ++i) g[i] = float(gain * k * a[i]);
      continue;
    }
    MaskRow(mask, y, G.left, G.right, m.data());
    for (size_t i = 0; i < width; ++i) g[i] = float(gain * std::max(double(m[i]), k * a[i]));
  }
}

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

void Composite(ByteImage& output, const Rect& T, const CoreTiles& core, const SingleChannelImage<float>& glow,
               const std::vector<Flash>& flashes, const ColorTable& colors, const ByteMask* mask,
               ProgressUpdateSink* progress, double from, double to) {
  const int32_t width = T.Width(), step = colors.format.channelCount, alpha = colors.format.colorChannels;
  std::vector<double> a(static_cast<size_t>(width)), g(static_cast<size_t>(width));
  std::vector<uint8_t> source(size_t(width) * size_t(step)), m(mask != nullptr ? size_t(width) : 0);
  for (int32_t y = T.top; y < T.bottom; ++y) {
    core.ReadRow(y, T.left, T.right, a.data());
    std::copy_n(glow.Address(T.left, y), width, g.begin());
    // Flashes are stamped row by row: each pixel sees them in the same order.
    SingleChannelImage<double> glowRow({T.left, y, T.right, y + 1}, g.data(), 0);
    for (const Flash& f : flashes) StampFlash(glowRow, f.centre, f.radius, f.value);

    uint8_t* s = source.data();
    for (size_t i = 0; i < size_t(width); ++i, s += step) {
      const double v = (255.0 - a[i]) * g[i] / 255.0 + a[i] + 0.5;
      const uint8_t* c = colors.At(int32_t(std::clamp(v, 0.0, 255.0)));
      for (int32_t k = 0; k < step; ++k) s[k] = c[k];
    }
    if (mask != nullptr) {
      MaskRow(mask, y, T.left, T.right, m.data());
      s = source.data() + alpha;
      for (size_t i = 0; i < size_t(width); ++i, s += step) *s = uint8_t(*s * (255 - m[i]) / 255);
    }
    // Where the colour is clear the output stays as it is: only the runs
    // between are put over it.
    uint8_t* out = output.Address(T.left, y);
    const int32_t outStep = output.pixelStep;
    for (int32_t x = 0; x < width;) {
      while (x < width && source[size_t(x) * step + alpha] == 0) ++x;
      int32_t end = x;
      while (end < width && source[size_t(end) * step + alpha] != 0) ++end;
      if (end > x)
        CompositeRowOver(out + x * outStep, &source[size_t(x) * step], colors.format, out + x * outStep, output.format,
                         end - x);
      x = end;
    }
    ReportProgress(progress, from, to, double(y - T.top + 1) / T.Height());
  }
}

}  // namespace

int32_t RenderArcs(const ArcNetwork& network, ByteImage& output, const Rect& drawn, double scale, const ArcLook& look,
                   const ByteMask* mask, Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to) {
  const Rect whole = RectAtScale(drawn, scale), T = output.bounds.Intersect(whole);
  if (T.IsEmpty()) return 0;
  try {
    CoreTiles core(whole);
    core.Stamp(network, scale);

    int32_t err = 0;
    SingleChannelImage<float> glow(err, whole);
    if (err != 0) return err;
    const ByteMask* glowMask = look.useMask ? mask : nullptr;
    const double gain = 1.5 * look.glowOpacity, k = 0.5 * std::max(1.0, look.glowRadius / look.coreRadius) + 0.5;
    GlowSource(glow, core, gain, k, glowMask);
    const double middle = from + 0.5 * (to - from);
    // Without opacity the glow is nothing, blurred or not.
    if (gain > 0.0) {
      RowBuffer* rows = nullptr;
      if ((err = glow.RowView(rows)) != 0) return err;
      Blur(err, *rows, look.glowRadius / scale, abort, false, nullptr, progress, from, middle);
      if (err != 0) return err;
    }

    std::vector<Flash> flashes;
    const double flashRadius = 8.0 * look.glowRadius / scale * look.flashFactor, flashValue = look.glowOpacity * 240.0;
    for (const Arc& arc : network.arcs)
      for (const ArcPoint* p : {&arc.front(), &arc.back()})
        if (p->flash) flashes.push_back({{p->x / scale, p->y / scale}, flashRadius, flashValue});

    const ColorTable colors(look.inner, look.outer, output.format);
    Composite(output, T, core, glow, flashes, colors, glowMask, progress, middle, to);
    return 0;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

}  // namespace kv
