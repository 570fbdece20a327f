// Pixel helpers shared by the effects and the render driver. The integer
// arithmetic and its truncation are part of the result: renders must come out
// the same byte for byte wherever they are computed. Each helper has one
// arithmetic path; the per-pixel forms run the row forms over one pixel.
#pragma once

#include <algorithm>
#include <cstdint>

#include "image/image.h"

namespace kv {

using BytePixel = Pixel<unsigned char>;

// A double as a byte, truncated and held to 0..255; callers that round add
// 0.5 first.
inline uint8_t ToByte(double v) { return uint8_t(std::clamp(v, 0.0, 255.0)); }

// render.template operator()<N, Alpha>() for the layout of `f`, one of those
// hosts hand over (grey, RGB, Lab or CMYK, with or without alpha), so that
// inner loops are compiled for each; `otherwise` for any other layout.
template <class Render>
int32_t ForPixelLayout(const PixelFormat& f, Render&& render, int32_t otherwise) {
  switch (f.channelCount * 2 + (f.hasAlpha ? 1 : 0)) {
    case 2: return render.template operator()<1, false>();
    case 5: return render.template operator()<2, true>();
    case 6: return render.template operator()<3, false>();
    case 8: return render.template operator()<4, false>();
    case 9: return render.template operator()<4, true>();
    case 11: return render.template operator()<5, true>();
    default: return otherwise;
  }
}

// Bilinear sample of `img` at `p`. Corners outside `valid` (or the raster) read
// as `background`, which has the raster's layout, as has `out`. With alpha the
// colours are interpolated premultiplied; a sample whose alpha truncates to 0
// gets colours 0. A raster smaller than 2 x 2 leaves `out` unchanged.
void SampleBilinear(const ByteImage& img, const Rect& valid, PointD p, const BytePixel& background, BytePixel& out);

// SampleBilinear's arithmetic over its corners (x0, y0), (x0 + 1, y0),
// (x0, y0 + 1), (x0 + 1, y0 + 1) at the fractions fx, fy, for N channels, the
// last of them alpha when Alpha is set: samplers that find their corners
// faster come out byte for byte the same.
template <int32_t N, bool Alpha>
inline void BilinearFromCorners(const uint8_t* c0, const uint8_t* c1, const uint8_t* c2, const uint8_t* c3, double fx,
                                double fy, uint8_t* out) {
  const auto toByte = [](double v) { return uint8_t(v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v); };
  if constexpr (!Alpha) {
    for (int32_t k = 0; k < N; ++k) {
      const double left = c0[k] + (c2[k] - c0[k]) * fy;
      const double right = c1[k] + (c3[k] - c1[k]) * fy;
      out[k] = toByte(left + (right - left) * fx);
    }
  } else {
    constexpr int32_t a = N - 1;
    const double w0 = (1 - fx) * (1 - fy), w1 = fx * (1 - fy), w2 = (1 - fx) * fy, w3 = fx * fy;
    const uint8_t alpha = toByte(w0 * c0[a] + w1 * c1[a] + w2 * c2[a] + w3 * c3[a]);
    out[a] = alpha;
    for (int32_t k = 0; k < a; ++k) {
      // Nothing to weigh the colours by: they are 0.
      out[k] = alpha == 0 ? 0
                          : toByte(w0 / alpha * c0[a] * c0[k] + w1 / alpha * c1[a] * c1[k] +
                                   w2 / alpha * c2[a] * c2[k] + w3 / alpha * c3[a] * c3[k]);
    }
  }
}

// Weighs `newPx` by m (0..255) against `oldPx`; all three share oldPx's layout.
// With alpha, a blend of two fully transparent pixels sets out's alpha to 0
// and leaves its colours as they were.
void BlendByMask(uint8_t m, const BytePixel& oldPx, const BytePixel& newPx, BytePixel& out);
// The same over `count` pixels of layout `f`, one mask byte per pixel. `out`
// may be `oldRow` or `newRow`.
void BlendRowByMask(const uint8_t* mask, const uint8_t* oldRow, const uint8_t* newRow, uint8_t* out, int32_t count,
                    const PixelFormat& f);

// Puts `source` (alpha in its last channel) over `background`; `out` has the
// background's layout and takes an alpha only when the background has one.
void CompositeOver(BytePixel& out, const BytePixel& source, const BytePixel& background);
// The same over `count` pixels; `out` may be `background`.
void CompositeRowOver(uint8_t* out, const uint8_t* source, const PixelFormat& sourceFormat, const uint8_t* background,
                      const PixelFormat& backgroundFormat, int32_t count);

// Brightness 0..255 of a pixel by its colour space; 0 for Lab and unset.
uint8_t Luminance(const BytePixel& p);

// dst[dstChannel] = src[srcChannel] over the rasters' common area.
void CopyChannel(const ByteImage& src, int32_t srcChannel, ByteImage& dst, int32_t dstChannel);

// Every channel, alpha included, becomes min(value * factor, 255), truncated
// (and never below 0).
void ScaleValues(ByteImage& img, double factor);

// A full-size mask as a render at `scale` (full-size pixels per render pixel)
// sees it over `area`, in render pixels: each pixel takes the full-size pixel
// under its top-left corner, and 0 beyond `full`. 0, or -108.
int32_t MaskAtScale(const ByteMask& full, double scale, const Rect& area, ByteMask& out);

// The bounds of the non-zero bytes of one plane, `size` pixels whose bytes lie
// `step` apart in a row and rows `rowBytes` apart, in the plane's own
// coordinates; empty when every byte is 0. A layer's content is the bounds
// of its transparency.
Rect NonZeroBounds(const uint8_t* plane, Size size, ptrdiff_t rowBytes, int32_t step);

}  // namespace kv
