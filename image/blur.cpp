#include "image/blur.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "image/fft.h"
#include "image/pixel_ops.h"
#include "image/vector_kernels.h"

namespace kv {

namespace {

// The cut kernel's weights at distances 0..n-1, normalised over the whole
// kernel.
std::vector<double> CutKernel(double radius) {
  const double scale = 2 / (radius + 1);
  std::vector<double> w;
  for (int32_t i = 0;; ++i) {
    const double v = std::exp(-(scale * i) * (scale * i));
    if (v < 0.1) break;
    w.push_back(v);
  }
  double sum = w[0];
  for (size_t i = 1; i < w.size(); ++i) sum += 2 * w[i];
  for (double& v : w) v /= sum;
  return w;
}

}  // namespace

std::vector<float> BlurKernel(double radius) {
  const std::vector<double> w = CutKernel(radius);
  return {w.begin(), w.end()};
}

namespace {

bool Aborted(Abort_Tester* abort) { return abort != nullptr && abort->ShouldAbort(); }

// Samples as the blur reads and writes them: bytes are rounded on the way back.
inline float Load(uint8_t v) { return v; }
inline float Load(float v) { return v; }
inline void Store(uint8_t& to, float v) { to = uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f)); }
inline void Store(float& to, float v) { to = v; }

template <class T>
T* RowOf(const RowBuffer& buffer, int32_t y) {
  return reinterpret_cast<T*>(buffer.Row(y));
}

size_t RoundUpToBlock(size_t n, size_t block) { return (n + block - 1) / block * block; }

int32_t Mod(int64_t a, int32_t n) {
  const int32_t r = int32_t(a % n);
  return r < 0 ? r + n : r;
}

// --- direct method ---------------------------------------------------------

// Bytes: in 16-bit fixed point, fused into one walk down the buffer. Each
// row is blurred across into a ring of the rows within reach, with eight bits
// below the point kept, just before the row it reaches to is blurred down and
// written back in place; the rows below it are still the original ones.
int32_t BlurBytesDirect(RowBuffer& buffer, double radius, Abort_Tester* abort, const uint8_t* mask,
                        ProgressUpdateSink* progress, double from, double to) {
  const std::vector<double> w = CutKernel(radius);
  const int32_t taps = int32_t(w.size()), half = taps - 1;
  if (taps == 1) return 0;  // the centre alone: nothing moves
  // Rounded weights, the centre taking what the rounding left, so that the
  // kernel sums to exactly 1 and a flat area stays as it is.
  std::vector<uint32_t> fixed(w.size());
  uint32_t centre = 65536;
  for (int32_t i = 1; i < taps; ++i) centre -= 2 * (fixed[size_t(i)] = uint32_t(std::lround(w[size_t(i)] * 65536)));
  fixed[0] = centre;

  const int32_t width = buffer.bounds.Width(), height = buffer.bounds.Height(), channels = buffer.channels;
  const int32_t top = buffer.bounds.top, count = width * channels, reach = half * channels;
  const VectorKernels& kernels = Kernels();
  std::vector<uint8_t> line(size_t(reach) * 2 + size_t(count) + 16);
  uint8_t* const lineStart = line.data() + reach;
  const size_t stride = RoundUpToBlock(size_t(count), 16);
  const int32_t ringRows = std::min(taps + half, height);
  std::vector<uint16_t> ring(size_t(ringRows) * stride);
  const auto slot = [&](int32_t y) {
    return ring.data() + size_t(std::clamp(y, 0, height - 1) % ringRows) * stride;
  };
  const auto across = [&](int32_t y) {
    const uint8_t* row = RowOf<uint8_t>(buffer, top + y);
    std::copy_n(row, count, lineStart);
    for (int32_t i = 1; i <= half; ++i) {
      std::copy_n(row, channels, lineStart - i * channels);
      std::copy_n(row + count - channels, channels, lineStart + count + (i - 1) * channels);
    }
    kernels.blurAcross(lineStart, count, channels, fixed.data(), taps, slot(y));
  };

  std::vector<const uint16_t*> up(w.size()), down(w.size());
  std::vector<uint8_t> blurred(mask != nullptr ? size_t(count) : 0);
  const PixelFormat format = PixelFormat::Of(kModeUnset, channels, false);
  for (int32_t y = 0; y < std::min(half, height); ++y) across(y);
  for (int32_t y = 0; y < height; ++y) {
    if (Aborted(abort)) return kErrAborted;
    if (y + half < height) across(y + half);
    for (int32_t i = 0; i <= half; ++i) {
      up[size_t(i)] = slot(y - i);
      down[size_t(i)] = slot(y + i);
    }
    uint8_t* row = RowOf<uint8_t>(buffer, top + y);
    if (mask == nullptr) {
      kernels.blurDown(up.data(), down.data(), count, fixed.data(), taps, row);
    } else {
      kernels.blurDown(up.data(), down.data(), count, fixed.data(), taps, blurred.data());
      BlendRowByMask(mask + size_t(y) * size_t(width), row, blurred.data(), row, width, format);
    }
    ReportProgress(progress, from, to, double(y + 1) / height);
  }
  return 0;
}

// Floats: a pass across, then one down, each in blocks of fixed length so
// that the convolution's loops compile to vector code.
constexpr size_t kBlock = 256;

// out[j] = w[0] * lo[0][j] + sum over i >= 1 of w[i] * (lo[i][j] + hi[i][j])
// for j < count; the sources are readable up to RoundUpToBlock(count, kBlock).
void Convolve(const std::vector<float>& w, const float* const* lo, const float* const* hi, size_t count, float* out) {
  for (size_t j0 = 0; j0 < count; j0 += kBlock) {
    float acc[kBlock];
    const float* centre = lo[0] + j0;
    for (size_t j = 0; j < kBlock; ++j) acc[j] = w[0] * centre[j];
    for (size_t i = 1; i < w.size(); ++i) {
      const float *a = lo[i] + j0, *b = hi[i] + j0, weight = w[i];
      for (size_t j = 0; j < kBlock; ++j) acc[j] += weight * (a[j] + b[j]);
    }
    std::copy_n(acc, std::min(kBlock, count - j0), out + j0);
  }
}

}  // namespace

int32_t BlurFloatRows(int32_t width, int32_t height, int32_t channels, double radius, int32_t first, int32_t last,
                      const FloatRowSource& source, const FloatRowSink& sink, Abort_Tester* abort,
                      ProgressUpdateSink* progress, double from, double to) {
  first = std::max(first, 0);
  last = std::min(last, height);
  const size_t rowSamples = size_t(std::max(width, 0)) * size_t(std::max(channels, 0)), step = size_t(channels);
  if (first >= last || rowSamples == 0) return 0;
  try {
    const std::vector<float> w = radius > 0 ? BlurKernel(radius) : std::vector<float>{1.0f};
    const int32_t half = int32_t(w.size()) - 1;
    std::vector<const float*> lo(w.size()), hi(w.size());

    // Across, as each row comes: between `half` repeated edge pixels, into a
    // ring of the rows within reach of the one going down.
    std::vector<float> line(rowSamples + 2 * size_t(half) * step + kBlock);
    float* const lineStart = line.data() + size_t(half) * step;
    const size_t ringRows = std::min<size_t>(2 * size_t(half) + 1, size_t(height));
    const size_t stride = RoundUpToBlock(rowSamples, kBlock);
    std::vector<float> ring(ringRows * stride), out(stride);
    const auto slot = [&](int32_t y) { return ring.data() + size_t(std::clamp(y, 0, height - 1)) % ringRows * stride; };
    int32_t next = std::max(0, first - half);
    const auto across = [&](int32_t y) {
      source(y, lineStart);
      for (int32_t i = 1; i <= half; ++i) {
        std::copy_n(lineStart, step, lineStart - i * step);
        std::copy_n(lineStart + rowSamples - step, step, lineStart + rowSamples + (i - 1) * step);
      }
      for (int32_t i = 0; i <= half; ++i) {
        lo[i] = lineStart - i * step;
        hi[i] = lineStart + i * step;
      }
      Convolve(w, lo.data(), hi.data(), rowSamples, slot(y));
    };

    // Down.
    for (int32_t y = first; y < last; ++y) {
      if (Aborted(abort)) return kErrAborted;
      for (; next <= std::min(y + half, height - 1); ++next) across(next);
      for (int32_t i = 0; i <= half; ++i) {
        lo[i] = slot(y - i);
        hi[i] = slot(y + i);
      }
      Convolve(w, lo.data(), hi.data(), rowSamples, out.data());
      if (int32_t err = sink(y, out.data())) return err;
      ReportProgress(progress, from, to, double(y - first + 1) / (last - first));
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

namespace {

int32_t BlurFloatsDirect(RowBuffer& buffer, double radius, Abort_Tester* abort, ProgressUpdateSink* progress,
                         double from, double to) {
  const int32_t width = buffer.bounds.Width(), height = buffer.bounds.Height(), top = buffer.bounds.top;
  const size_t rowSamples = size_t(width) * size_t(buffer.channels);
  // Row y is written only once every row it reaches has been read.
  return BlurFloatRows(
      width, height, buffer.channels, radius, 0, height,
      [&](int32_t y, float* row) { std::copy_n(RowOf<float>(buffer, top + y), rowSamples, row); },
      [&](int32_t y, const float* row) {
        std::copy_n(row, rowSamples, RowOf<float>(buffer, top + y));
        return 0;
      },
      abort, progress, from, to);
}

// --- transform method ------------------------------------------------------

// Circular convolutions of lines of one length with the Gaussian, up to
// kLines lines at once: half of them as the real parts and half as the
// imaginary parts of one complex transform. The kernel is symmetric, so its
// spectrum is real and the two halves never mix.
class CircularLines {
 public:
  static constexpr int32_t kLines = 2 * fft::kLanes;
  static constexpr int32_t L = fft::kLanes;

  // Throws std::bad_alloc when memory runs out.
  CircularLines(int32_t length, double radius) : length_(length) {
    // The weights run on until they fall below 1e-12 (exp(-27.7)): sums of
    // floats cannot tell the rest from nothing. A kernel wider than the line
    // is wrapped round it, the weight half-way round split between both ways.
    const double s = 2 / (radius + 1);
    const int32_t reach = int32_t(std::ceil(std::sqrt(27.7) / s));
    std::vector<double> g(size_t(reach) + 1);
    double sum = 0;
    for (int32_t i = 0; i <= reach; ++i) {
      g[size_t(i)] = std::exp(-(s * i) * (s * i));
      sum += i == 0 ? g[0] : 2 * g[size_t(i)];
    }
    int32_t half = reach;
    std::vector<double> taps(g);  // taps[|d|] for d in [-half, half]
    const bool wrapped = 2 * reach >= length;
    if (wrapped) {
      std::vector<double> folded(static_cast<size_t>(length));
      for (int32_t d = -reach; d <= reach; ++d) folded[size_t(Mod(d, length))] += g[size_t(std::abs(d))];
      half = length / 2;
      taps.assign(folded.begin(), folded.begin() + half + 1);
      if (length % 2 == 0) taps[size_t(half)] /= 2;
    }

    // A length with small factors is transformed as the circle it is; any
    // other is carried on round its circle by the kernel's reach at both
    // ends, into a longer transform whose own wrap-round then never reaches
    // the samples kept.
    n_ = fft::FastSize(length) == length ? length : fft::FastSize(length + 2 * half);
    pad_ = n_ == length ? 0 : half;
    transform_ = std::make_unique<fft::Transform>(n_);
    source_.resize(size_t(n_));
    for (int32_t p = 0; p < n_; ++p) source_[size_t(p)] = Mod(p - pad_, length);

    std::vector<double> kernel(static_cast<size_t>(n_));
    for (int32_t d = -half; d <= half; ++d) kernel[size_t(Mod(d, n_))] += taps[size_t(std::abs(d))] / sum;
    re_.assign(size_t(n_) * L, 0.0f);
    im_.assign(re_.size(), 0.0f);
    for (int32_t p = 0; p < n_; ++p) re_[size_t(p) * L] = float(kernel[size_t(p)]);
    transform_->Forward(re_.data(), im_.data());
    // The inverse transform's 1/n goes into the spectrum.
    spectrum_.resize(size_t(n_));
    for (int32_t f = 0; f < n_; ++f) spectrum_[size_t(f)] = re_[size_t(f) * L] / float(n_);
    // Beyond n * 1.183 / sigma the Gaussian's spectrum is below 1e-12 of its
    // peak, as weak as the weights left out above; a kernel wrapped round a
    // line and carried on beyond it is no Gaussian, and keeps every frequency.
    const double sigma = (radius + 1) / (2 * std::sqrt(2.0));
    bands_ = wrapped && pad_ > 0 ? n_ / 2 : int32_t(std::min(double(n_ / 2), std::ceil(n_ * 1.183 / sigma)));
  }

  int32_t Length() const { return length_; }
  // The highest frequency kept.
  int32_t Bands() const { return bands_; }

  // at(line, i): the sample i of a line, for line < lines.
  template <class T, class At>
  void Run(At at, int32_t lines) {
    Gather<T>(at, lines);
    transform_->Forward(re_.data(), im_.data());
    for (int32_t p = 0; p < n_; ++p)
      for (int32_t l = 0; l < L; ++l) {
        re_[size_t(p * L + l)] *= spectrum_[size_t(p)];
        im_[size_t(p * L + l)] *= spectrum_[size_t(p)];
      }
    transform_->Inverse(re_.data(), im_.data());
    Scatter<T>(at, lines);
  }

  // The kept frequencies 0..Bands() of the lines, convolved: out(line, f)
  // takes their real and imaginary parts.
  template <class T, class At, class Out>
  void Spectra(At at, int32_t lines, Out out) {
    Gather<T>(at, lines);
    transform_->Forward(re_.data(), im_.data());
    // The real lines' spectra apart from the complex one: A[f] = (Z[f] +
    // conj Z[-f]) / 2 for the real parts, B[f] = (Z[f] - conj Z[-f]) / 2j for
    // the imaginary ones.
    for (int32_t f = 0; f <= bands_; ++f) {
      const size_t p = size_t(f) * L, q = size_t(Mod(-f, n_)) * L;
      const float w = 0.5f * spectrum_[size_t(f)];
      for (int32_t l = 0; l < L; ++l) {
        const float zr = re_[p + size_t(l)], zi = im_[p + size_t(l)], yr = re_[q + size_t(l)], yi = im_[q + size_t(l)];
        if (l < lines) out(l, f, w * (zr + yr), w * (zi - yi));
        if (l + L < lines) out(l + L, f, w * (zi + yi), w * (yr - zr));
      }
    }
  }

  // Back from the frequencies of Spectra, as in(line, f, re, im) gives them.
  template <class T, class At, class In>
  void FromSpectra(At at, int32_t lines, In in) {
    std::fill(re_.begin(), re_.end(), 0.0f);
    std::fill(im_.begin(), im_.end(), 0.0f);
    for (int32_t f = 0; f <= bands_; ++f) {
      // Z = A + jB at f, and the conjugates' sum at -f unless that is kept too.
      const size_t p = size_t(f) * L, q = size_t(Mod(-f, n_)) * L;
      const bool mirror = f > 0 && n_ - f > bands_;
      for (int32_t l = 0; l < L; ++l) {
        float ar = 0, ai = 0, br = 0, bi = 0;
        if (l < lines) in(l, f, ar, ai);
        if (l + L < lines) in(l + L, f, br, bi);
        re_[p + size_t(l)] = ar - bi;
        im_[p + size_t(l)] = ai + br;
        if (mirror) {
          re_[q + size_t(l)] = ar + bi;
          im_[q + size_t(l)] = br - ai;
        }
      }
    }
    transform_->Inverse(re_.data(), im_.data());
    Scatter<T>(at, lines);
  }

 private:
  template <class T, class At>
  void Gather(At at, int32_t lines) {
    for (int32_t p = 0; p < n_; ++p) {
      const int32_t i = source_[size_t(p)];
      for (int32_t l = 0; l < L; ++l) {
        re_[size_t(p * L + l)] = l < lines ? Load(*at(l, i)) : 0.0f;
        im_[size_t(p * L + l)] = l + L < lines ? Load(*at(l + L, i)) : 0.0f;
      }
    }
  }
  template <class T, class At>
  void Scatter(At at, int32_t lines) {
    for (int32_t i = 0; i < length_; ++i) {
      const size_t p = size_t(i + pad_) * L;
      for (int32_t l = 0; l < std::min(lines, L); ++l) {
        Store(*at(l, i), re_[p + size_t(l)]);
        if (l + L < lines) Store(*at(l + L, i), im_[p + size_t(l)]);
      }
    }
  }

  int32_t length_, n_ = 0, pad_ = 0, bands_ = 0;
  std::unique_ptr<fft::Transform> transform_;
  std::vector<int32_t> source_;  // the line's sample at each position of the transform
  std::vector<float> spectrum_, re_, im_;
};

// Runs `batch(first, count)` over `total` lines in groups of kLines, polling
// the abort tester before each and reporting progress after it.
template <class Batch>
int32_t ForEachBatch(int32_t total, Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to,
                     Batch batch) {
  for (int32_t first = 0; first < total; first += CircularLines::kLines) {
    if (Aborted(abort)) return kErrAborted;
    const int32_t count = std::min(CircularLines::kLines, total - first);
    batch(first, count);
    ReportProgress(progress, from, to, double(first + count) / total);
  }
  return 0;
}

// The rows are transformed, and the few frequencies that the Gaussian
// leaves of them are convolved down the columns before the rows are
// transformed back: the same as convolving along the rows and then down
// every column, for a fraction of the work.
template <class T>
int32_t BlurByTransform(RowBuffer& buffer, double radius, Abort_Tester* abort, ProgressUpdateSink* progress,
                        double from, double to) {
  const int32_t height = buffer.bounds.Height(), channels = buffer.channels, top = buffer.bounds.top;
  const auto progressAt = [from, to](double t) { return from + (to - from) * t; };
  CircularLines rows(buffer.bounds.Width(), radius);
  // Per row and channel, the real and imaginary parts of frequencies 0..bands.
  const size_t perLine = 2 * size_t(rows.Bands() + 1), perRow = perLine * size_t(channels);
  std::vector<float> spectra(perRow * size_t(height));
  const auto line = [&](int32_t first, int32_t l, int32_t x) {
    return RowOf<T>(buffer, top + (first + l) / channels) + (first + l) % channels + ptrdiff_t(x) * channels;
  };
  const auto band = [&](int32_t first, int32_t l, int32_t f) {
    return spectra.data() + size_t(first + l) * perLine + 2 * size_t(f);
  };

  int32_t err = ForEachBatch(height * channels, abort, progress, from, progressAt(0.45), [&](int32_t first, int32_t count) {
    rows.Spectra<T>([&](int32_t l, int32_t x) { return line(first, l, x); }, count,
                    [&](int32_t l, int32_t f, float re, float im) {
                      float* b = band(first, l, f);
                      b[0] = re;
                      b[1] = im;
                    });
  });
  if (err != 0) return err;

  CircularLines columns(height, radius);
  err = ForEachBatch(int32_t(perRow), abort, progress, progressAt(0.45), progressAt(0.55),
                     [&](int32_t first, int32_t count) {
                       columns.Run<float>(
                           [&](int32_t l, int32_t y) { return spectra.data() + size_t(y) * perRow + size_t(first + l); },
                           count);
                     });
  if (err != 0) return err;

  return ForEachBatch(height * channels, abort, progress, progressAt(0.55), to, [&](int32_t first, int32_t count) {
    rows.FromSpectra<T>([&](int32_t l, int32_t x) { return line(first, l, x); }, count,
                        [&](int32_t l, int32_t f, float& re, float& im) {
                          const float* b = band(first, l, f);
                          re = b[0];
                          im = b[1];
                        });
  });
}

template <class T>
int32_t BlurAs(RowBuffer& buffer, double radius, double transformAbove, Abort_Tester* abort, bool directOnly,
               const uint8_t* mask, ProgressUpdateSink* progress, double from, double to) {
  if (radius > transformAbove && !directOnly) return BlurByTransform<T>(buffer, radius, abort, progress, from, to);
  if constexpr (std::is_same_v<T, uint8_t>)
    return BlurBytesDirect(buffer, radius, abort, directOnly ? mask : nullptr, progress, from, to);
  else
    return BlurFloatsDirect(buffer, radius, abort, progress, from, to);
}

}  // namespace

void Blur(int32_t& err, RowBuffer& buffer, double radius, Abort_Tester* abort, bool directOnly, const uint8_t* mask,
          ProgressUpdateSink* progress, double from, double to) {
  err = 0;
  if (buffer.bytesPerChannel != 1 && buffer.bytesPerChannel != int32_t(sizeof(float))) {
    err = kErrGeneral;
    return;
  }
  if (!(radius > 0) || buffer.bounds.IsEmpty()) return;
  try {
    if (buffer.bytesPerChannel == 1)
      err = BlurAs<uint8_t>(buffer, radius, 30.0, abort, directOnly, mask, progress, from, to);
    else
      err = BlurAs<float>(buffer, radius, kFloatBlurTransformAbove, abort, false, nullptr, progress, from, to);
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
  }
}

}  // namespace kv
