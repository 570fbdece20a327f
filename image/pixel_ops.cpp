#include "image/pixel_ops.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kv {

namespace {

// The background's share t = floor(b * (255 - a) / 255) of a composite, for
// every source alpha a and background alpha b. Built once, on first use; the
// initialisation of a local static is thread-safe.
struct OverTable {
  uint8_t t[256][256];
  OverTable() {
    for (int a = 0; a < 256; ++a)
      for (int b = 0; b < 256; ++b) t[a][b] = uint8_t(b * (255 - a) / 255);
  }
};

const OverTable& Over() {
  static const OverTable table;
  return table;
}

// Keeps far-off sample positions inside int range; they read as background.
int32_t FloorToInt(double v) { return int32_t(std::clamp(std::floor(v), -1073741824.0, 1073741824.0)); }

}  // namespace

namespace {

template <int32_t N, bool Alpha>
void Bilinear(const uint8_t* const c[4], double fx, double fy, uint8_t* out) {
  BilinearFromCorners<N, Alpha>(c[0], c[1], c[2], c[3], fx, fy, out);
}

}  // namespace

void SampleBilinear(const ByteImage& img, const Rect& valid, PointD p, const BytePixel& background, BytePixel& out) {
  if (img.Width() < 2 || img.Height() < 2) return;
  const Rect inside = valid.Intersect(img.bounds);
  const int32_t x0 = FloorToInt(p.x), y0 = FloorToInt(p.y);
  const double fx = p.x - x0, fy = p.y - y0;
  // Corners in the order (x0,y0), (x0+1,y0), (x0,y0+1), (x0+1,y0+1).
  const uint8_t* c[4];
  for (int i = 0; i < 4; ++i) {
    const int32_t x = x0 + (i & 1), y = y0 + (i >> 1);
    c[i] = inside.Contains(x, y) ? img.Address(x, y) : background.values;
  }
  const PixelFormat& f = img.format;
  switch (f.channelCount * 2 + (f.hasAlpha ? 1 : 0)) {
    case 2: return Bilinear<1, false>(c, fx, fy, out.values);
    case 4: return Bilinear<2, false>(c, fx, fy, out.values);
    case 5: return Bilinear<2, true>(c, fx, fy, out.values);
    case 6: return Bilinear<3, false>(c, fx, fy, out.values);
    case 7: return Bilinear<3, true>(c, fx, fy, out.values);
    case 8: return Bilinear<4, false>(c, fx, fy, out.values);
    case 9: return Bilinear<4, true>(c, fx, fy, out.values);
    case 10: return Bilinear<5, false>(c, fx, fy, out.values);
    case 11: return Bilinear<5, true>(c, fx, fy, out.values);
    default: return;
  }
}

int32_t MaskAtScale(const ByteMask& full, double scale, const Rect& area, ByteMask& out) {
  if (int32_t err = out.Allocate(area, ByteMask::kFormat)) return err;
  const Rect& F = full.bounds;
  std::vector<int32_t> columns;
  try {
    columns.resize(static_cast<size_t>(std::max(area.Width(), 0)));
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  for (int32_t x = area.left; x < area.right; ++x) columns[size_t(x - area.left)] = FloorToInt(x * scale);
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const int32_t v = FloorToInt(y * scale);
    uint8_t* row = out.Row(y);
    for (size_t i = 0; i < columns.size(); ++i)
      row[i] = F.Contains(columns[i], v) ? *full.Address(columns[i], v) : uint8_t(0);
  }
  return 0;
}

void BlendByMask(uint8_t m, const BytePixel& oldPx, const BytePixel& newPx, BytePixel& out) {
  BlendRowByMask(&m, oldPx.values, newPx.values, out.values, 1, oldPx.format);
}

void BlendRowByMask(const uint8_t* mask, const uint8_t* oldRow, const uint8_t* newRow, uint8_t* out, int32_t count,
                    const PixelFormat& f) {
  const int32_t step = f.channelCount;
  if (!f.hasAlpha) {
    for (int32_t x = 0; x < count; ++x, oldRow += step, newRow += step, out += step) {
      const int32_t m = mask[x];
      for (int32_t c = 0; c < step; ++c) out[c] = uint8_t(oldRow[c] + m * (newRow[c] - oldRow[c]) / 255);
    }
    return;
  }
  const int32_t a = f.colorChannels;
  for (int32_t x = 0; x < count; ++x, oldRow += step, newRow += step, out += step) {
    const int32_t m = mask[x], oldA = oldRow[a], newA = newRow[a];
    const int32_t d = (255 - m) * oldA + m * newA;
    if (d == 0) {
      out[a] = 0;
      continue;
    }
    const int32_t w = m * 255 * newA / d;
    for (int32_t c = 0; c < a; ++c) out[c] = uint8_t(oldRow[c] + (newRow[c] - oldRow[c]) * w / 255);
    out[a] = uint8_t(oldA + m * (newA - oldA) / 255);
  }
}

void CompositeOver(BytePixel& out, const BytePixel& source, const BytePixel& background) {
  CompositeRowOver(out.values, source.values, source.format, background.values, background.format, 1);
}

void CompositeRowOver(uint8_t* out, const uint8_t* source, const PixelFormat& sourceFormat, const uint8_t* background,
                      const PixelFormat& backgroundFormat, int32_t count) {
  const int32_t colors = backgroundFormat.colorChannels, sourceAlpha = sourceFormat.channelCount - 1;
  const int32_t sourceStep = sourceFormat.channelCount, step = backgroundFormat.channelCount;
  if (!backgroundFormat.hasAlpha) {
    for (int32_t x = 0; x < count; ++x, source += sourceStep, background += step, out += step) {
      const int32_t a = source[sourceAlpha];
      for (int32_t c = 0; c < colors; ++c) out[c] = uint8_t(background[c] + (source[c] - background[c]) * a / 255);
    }
    return;
  }
  // Source alpha 255 gives t = 0 and u = 255, so the source is copied exactly;
  // alpha 0 gives t = u = b, so the background is, except where u = 0.
  const OverTable& table = Over();
  for (int32_t x = 0; x < count; ++x, source += sourceStep, background += step, out += step) {
    const int32_t a = source[sourceAlpha], t = table.t[a][background[colors]], u = a + t;
    if (u == 0) {
      std::copy_n(background, step, out);
      continue;
    }
    for (int32_t c = 0; c < colors; ++c) out[c] = uint8_t((a * source[c] + t * background[c]) / u);
    out[colors] = uint8_t(u);
  }
}

uint8_t Luminance(const BytePixel& p) {
  const auto weigh = [](double r, double g, double b) { return ToByte(0.299 * r + 0.587 * g + 0.114 * b + 0.5); };
  switch (p.format.Space()) {
    case kModeRGB:
      return weigh(p[0], p[1], p[2]);
    case kModeHSB:
      return p[2];
    case kModeCMYK: {
      // 255 means no ink; the black channel adds to every colour's ink.
      const int32_t k = p[3];
      const auto light = [k](int32_t v) { return 255 - std::max(0, (255 - v) * k / 255 + 255 - k); };
      return weigh(light(p[0]), light(p[1]), light(p[2]));
    }
    case kModeGrey:
      return p[0];
    default:
      return 0;
  }
}

void CopyChannel(const ByteImage& src, int32_t srcChannel, ByteImage& dst, int32_t dstChannel) {
  const Rect r = src.bounds.Intersect(dst.bounds);
  if (r.IsEmpty()) return;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const uint8_t* s = src.Address(r.left, y) + srcChannel;
    uint8_t* d = dst.Address(r.left, y) + dstChannel;
    for (int32_t x = r.left; x < r.right; ++x, s += src.pixelStep, d += dst.pixelStep) *d = *s;
  }
}

void ScaleValues(ByteImage& img, double factor) {
  uint8_t scaled[256];
  for (int v = 0; v < 256; ++v) scaled[v] = ToByte(v * factor);
  const size_t rowElements = size_t(std::max(img.Width(), 0)) * size_t(img.pixelStep);
  for (int32_t y = img.bounds.top; y < img.bounds.bottom; ++y) {
    uint8_t* row = img.Row(y);
    for (size_t i = 0; i < rowElements; ++i) row[i] = scaled[row[i]];
  }
}

Rect NonZeroBounds(const uint8_t* plane, Size size, ptrdiff_t rowBytes, int32_t step) {
  Rect box{size.width, size.height, 0, 0};
  for (int32_t y = 0; y < size.height; ++y) {
    const uint8_t* row = plane + ptrdiff_t(y) * rowBytes;
    int32_t first = 0;
    while (first < size.width && row[ptrdiff_t(first) * step] == 0) ++first;
    if (first == size.width) continue;
    int32_t last = size.width - 1;
    while (row[ptrdiff_t(last) * step] == 0) --last;
    box = {std::min(box.left, first), std::min(box.top, y), std::max(box.right, last + 1), y + 1};
  }
  return box.IsEmpty() ? Rect{} : box;
}

}  // namespace kv
