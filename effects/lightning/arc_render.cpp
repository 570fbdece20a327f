// Drawing the arcs: their cores stamped into an intensity image, a glow
// blurred from it, flashes, and the colour between the outer and the inner
// colour put over the output.
#include <algorithm>
#include <cmath>
#include <new>

#include "effects/lightning/arc_engine.h"
#include "effects/lightning/core_tiles.h"
#include "effects/lightning/glow_field.h"
#include "host/host_color.h"
#include "image/pixel_ops.h"

namespace kv {

namespace {

// The mask over [x0, x1) of row y, 0 beyond its rectangle.
void MaskRow(const ByteMask* mask, int32_t y, int32_t x0, int32_t x1, uint8_t* out) {
  std::fill(out, out + (x1 - x0), uint8_t(0));
  if (mask == nullptr || y < mask->bounds.top || y >= mask->bounds.bottom) return;
  const int32_t from = std::max(x0, mask->bounds.left), to = std::min(x1, mask->bounds.right);
  if (from < to) std::copy_n(mask->Address(from, y), to - from, out + (from - x0));
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

void Composite(ByteImage& output, const CoreTiles& core, GlowField& glow, const std::vector<Flash>& flashes,
               const ColorTable& colors, const ByteMask* mask, ProgressUpdateSink* progress, double from, double to) {
  const Rect T = output.bounds;
  const int32_t width = T.Width(), step = colors.format.channelCount, alpha = colors.format.colorChannels;
  std::vector<double> a(static_cast<size_t>(width)), g(static_cast<size_t>(width));
  std::vector<uint8_t> source(size_t(width) * size_t(step)), m(mask != nullptr ? size_t(width) : 0);
  for (int32_t y = T.top; y < T.bottom; ++y) {
    core.ReadRow(y, T.left, T.right, a.data());
    glow.ReadRow(y, T.left, T.right, g.data());
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
    uint8_t* out = output.Row(y);
    CompositeRowOver(out, source.data(), colors.format, out, output.format, width);
    ReportProgress(progress, from, to, double(y - T.top + 1) / T.Height());
  }
}

}  // namespace

int32_t RenderArcs(const ArcNetwork& network, ByteImage& output, double scale, const ArcLook& look,
                   const ByteMask* mask, Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to) {
  const Rect T = output.bounds;
  if (T.IsEmpty()) return 0;
  try {
    // The image at the render's scale.
    const Rect& b = network.bounds;
    const Rect image{std::min(T.left, int32_t(std::floor(b.left / scale))),
                     std::min(T.top, int32_t(std::floor(b.top / scale))),
                     std::max(T.right, int32_t(std::ceil(b.right / scale))),
                     std::max(T.bottom, int32_t(std::ceil(b.bottom / scale)))};
    const double radius = look.glowRadius / scale;
    GlowField glow(radius, T, image);
    CoreTiles core(glow.Source());
    core.Stamp(network, scale);

    const ByteMask* glowMask = look.useMask ? mask : nullptr;
    const double k = 0.5 * std::max(1.0, look.glowRadius / look.coreRadius) + 0.5;
    if (int32_t err = glow.Compute(core, 1.5 * look.glowOpacity, k, glowMask, abort, progress, from,
                                   from + 0.5 * (to - from)))
      return err;

    std::vector<Flash> flashes;
    const double flashRadius = 8.0 * radius * look.flashFactor, flashValue = look.glowOpacity * 240.0;
    for (const Arc& arc : network.arcs)
      for (const ArcPoint* p : {&arc.front(), &arc.back()})
        if (p->flash) flashes.push_back({{p->x / scale, p->y / scale}, flashRadius, flashValue});

    const ColorTable colors(look.inner, look.outer, output.format);
    Composite(output, core, glow, flashes, colors, glowMask, progress, from + 0.5 * (to - from), to);
    return 0;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

}  // namespace kv
