#include "image/blur.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <vector>

#include "image/fft.h"
#include "image/pixel_ops.h"

namespace kv {

std::vector<float> BlurKernel(double radius) {
  const double scale = 2 / (radius + 1);
  std::vector<double> w;
  for (int32_t i = 0;; ++i) {
    const double v = std::exp(-(scale * i) * (scale * i));
    if (v < 0.1) break;
    w.push_back(v);
  }
  double sum = w[0];
  for (size_t i = 1; i < w.size(); ++i) sum += 2 * w[i];
  std::vector<float> kernel(w.size());
  for (size_t i = 0; i < w.size(); ++i) kernel[i] = float(w[i] / sum);
  return kernel;
}

namespace {

constexpr double kTransformAbove = 30;

bool Aborted(Abort_Tester* abort) { return abort != nullptr && abort->ShouldAbort(); }

uint8_t RoundToByte(float v) { return uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f)); }

// --- direct method ---------------------------------------------------------

size_t RoundUpToBlock(size_t n) { return (n + kBlurBlock - 1) / kBlurBlock * kBlurBlock; }

// The convolution for j < count; the sources are readable up to
// RoundUpToBlock(count).
void Convolve(const std::vector<float>& w, const float* const* lo, const float* const* hi, size_t count, uint8_t* out) {
  for (size_t j0 = 0; j0 < count; j0 += kBlurBlock) {
    float acc[kBlurBlock];
    ConvolveBlock(w, lo, hi, j0, acc);
    const size_t n = std::min(kBlurBlock, count - j0);
    for (size_t j = 0; j < n; ++j) out[j0 + j] = RoundToByte(acc[j]);
  }
}

int32_t BlurDirect(RowBuffer& buffer, const std::vector<float>& w, Abort_Tester* abort, const uint8_t* mask,
                   ProgressUpdateSink* progress, double from, double to) {
  const int32_t width = buffer.bounds.Width(), height = buffer.bounds.Height(), channels = buffer.channels;
  const int32_t top = buffer.bounds.top, half = int32_t(w.size()) - 1;
  const size_t rowBytes = size_t(width) * size_t(channels), step = size_t(channels);
  const double middle = (from + to) / 2;
  std::vector<const float*> lo(w.size()), hi(w.size());

  std::vector<uint8_t> original;
  if (mask != nullptr) {
    original.resize(rowBytes * size_t(height));
    for (int32_t y = 0; y < height; ++y) std::copy_n(buffer.Row(top + y), rowBytes, original.data() + y * rowBytes);
  }

  // Horizontal: each row as floats between `half` repeated edge pixels.
  std::vector<float> line(rowBytes + 2 * size_t(half) * step + kBlurBlock);
  float* const lineStart = line.data() + size_t(half) * step;
  for (int32_t y = 0; y < height; ++y) {
    if (Aborted(abort)) return kErrAborted;
    uint8_t* row = buffer.Row(top + y);
    std::copy_n(row, rowBytes, lineStart);
    for (int32_t i = 1; i <= half; ++i) {
      std::copy_n(row, step, lineStart - i * step);
      std::copy_n(row + rowBytes - step, step, lineStart + rowBytes + (i - 1) * step);
    }
    for (int32_t i = 0; i <= half; ++i) {
      lo[i] = lineStart - i * step;
      hi[i] = lineStart + i * step;
    }
    Convolve(w, lo.data(), hi.data(), rowBytes, row);
    ReportProgress(progress, from, middle, double(y + 1) / height);
  }

  // Vertical: a ring of the rows within reach of the current one, as floats,
  // taken from the buffer before the current row overwrites them.
  const size_t ringRows = std::min<size_t>(2 * size_t(half) + 1, size_t(height)), stride = RoundUpToBlock(rowBytes);
  std::vector<float> ring(ringRows * stride);
  const auto slot = [&](int32_t y) { return ring.data() + size_t(std::clamp(y, 0, height - 1)) % ringRows * stride; };
  const auto load = [&](int32_t y) { std::copy_n(buffer.Row(top + y), rowBytes, slot(y)); };
  for (int32_t y = 0; y < std::min(half, height); ++y) load(y);
  std::vector<uint8_t> blurred(mask != nullptr ? rowBytes : 0);
  const PixelFormat plain = PixelFormat::Of(kModeUnset, channels, false);
  for (int32_t y = 0; y < height; ++y) {
    if (Aborted(abort)) return kErrAborted;
    if (y + half < height) load(y + half);
    for (int32_t i = 0; i <= half; ++i) {
      lo[i] = slot(y - i);
      hi[i] = slot(y + i);
    }
    uint8_t* row = buffer.Row(top + y);
    if (mask == nullptr) {
      Convolve(w, lo.data(), hi.data(), rowBytes, row);
    } else {
      Convolve(w, lo.data(), hi.data(), rowBytes, blurred.data());
      BlendRowByMask(mask + size_t(y) * size_t(width), original.data() + y * rowBytes, blurred.data(), row, width,
                     plain);
    }
    ReportProgress(progress, middle, to, double(y + 1) / height);
  }
  return 0;
}

// --- transform method ------------------------------------------------------

// Convolves up to 2 * kLanes lines of one length at once: half of them as the
// real parts and half as the imaginary parts of one complex transform. The
// kernel is symmetric, so its spectrum is real and the two halves never mix.
class TransformLines {
 public:
  static constexpr int32_t kLines = 2 * fft::kLanes;

  // Throws std::bad_alloc when memory runs out.
  TransformLines(int32_t length, const std::vector<float>& w)
      : length_(length),
        transform_(fft::FastSize(length + 2 * (int32_t(w.size()) - 1))),
        spectrum_(size_t(transform_.Size())),
        re_(size_t(transform_.Size()) * fft::kLanes),
        im_(re_.size()) {
    // The padded length keeps every sample the kernel reaches at distinct
    // positions; the spectrum carries the inverse transform's 1/n.
    const int32_t n = transform_.Size();
    std::vector<double> cosines(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) cosines[size_t(k)] = std::cos(2 * std::numbers::pi * k / n);
    for (int32_t f = 0; f < n; ++f) {
      double sum = w[0];
      for (size_t i = 1; i < w.size(); ++i) sum += 2 * w[i] * cosines[size_t(int64_t(f) * int64_t(i) % n)];
      spectrum_[size_t(f)] = float(sum / n);
    }
  }

  // at(line, i): the byte of sample i of a line, for line < lines.
  template <class At>
  void Run(At at, int32_t lines) {
    const int32_t n = transform_.Size(), rightEnd = length_ + (n - length_) / 2;
    constexpr int32_t L = fft::kLanes;
    // Past the end repeats the last sample, then (wrapping round to the
    // start) the first.
    for (int32_t p = 0; p < n; ++p) {
      const int32_t source = p < length_ ? p : p < rightEnd ? length_ - 1 : 0;
      for (int32_t l = 0; l < L; ++l) {
        re_[size_t(p * L + l)] = l < lines ? *at(l, source) : 0;
        im_[size_t(p * L + l)] = l + L < lines ? *at(l + L, source) : 0;
      }
    }
    transform_.Forward(re_.data(), im_.data());
    for (int32_t p = 0; p < n; ++p)
      for (int32_t l = 0; l < L; ++l) {
        re_[size_t(p * L + l)] *= spectrum_[size_t(p)];
        im_[size_t(p * L + l)] *= spectrum_[size_t(p)];
      }
    transform_.Inverse(re_.data(), im_.data());
    for (int32_t p = 0; p < length_; ++p)
      for (int32_t l = 0; l < std::min(lines, L); ++l) {
        *at(l, p) = RoundToByte(re_[size_t(p * L + l)]);
        if (l + L < lines) *at(l + L, p) = RoundToByte(im_[size_t(p * L + l)]);
      }
  }

 private:
  int32_t length_;
  fft::Transform transform_;
  std::vector<float> spectrum_, re_, im_;
};

// Runs `batch(first, count)` over `total` lines in groups of kLines, polling
// the abort tester before each and reporting progress after it.
template <class Batch>
int32_t ForEachBatch(int32_t total, Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to,
                     Batch batch) {
  for (int32_t first = 0; first < total; first += TransformLines::kLines) {
    if (Aborted(abort)) return kErrAborted;
    const int32_t count = std::min(TransformLines::kLines, total - first);
    batch(first, count);
    ReportProgress(progress, from, to, double(first + count) / total);
  }
  return 0;
}

int32_t BlurByTransform(RowBuffer& buffer, const std::vector<float>& w, Abort_Tester* abort,
                        ProgressUpdateSink* progress, double from, double to) {
  const int32_t width = buffer.bounds.Width(), height = buffer.bounds.Height(), channels = buffer.channels;
  const int32_t top = buffer.bounds.top;
  const double middle = (from + to) / 2;

  // Horizontal: the lines are the channels of the rows.
  TransformLines rows(width, w);
  const int32_t err = ForEachBatch(height * channels, abort, progress, from, middle, [&](int32_t first, int32_t count) {
    uint8_t* start[TransformLines::kLines];
    for (int32_t l = 0; l < count; ++l) start[l] = buffer.Row(top + (first + l) / channels) + (first + l) % channels;
    rows.Run([&](int32_t l, int32_t x) { return start[l] + ptrdiff_t(x) * channels; }, count);
  });
  if (err != 0) return err;

  // Vertical: the lines are the byte columns.
  TransformLines columns(height, w);
  return ForEachBatch(width * channels, abort, progress, middle, to, [&](int32_t first, int32_t count) {
    columns.Run([&](int32_t l, int32_t y) { return buffer.Row(top + y) + first + l; }, count);
  });
}

}  // namespace

void Blur(int32_t& err, RowBuffer& buffer, double radius, Abort_Tester* abort, bool directOnly, const uint8_t* mask,
          ProgressUpdateSink* progress, double from, double to) {
  err = 0;
  if (buffer.bytesPerChannel != 1) {
    err = kErrGeneral;
    return;
  }
  if (!(radius > 0) || buffer.bounds.IsEmpty()) return;
  try {
    const std::vector<float> kernel = BlurKernel(radius);
    if (radius > kTransformAbove && !directOnly)
      err = BlurByTransform(buffer, kernel, abort, progress, from, to);
    else
      err = BlurDirect(buffer, kernel, abort, directOnly ? mask : nullptr, progress, from, to);
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
  }
}

}  // namespace kv
