#include "effects/lightning/glow_field.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "image/blur.h"

namespace kv {

namespace {

bool Aborted(Abort_Tester* abort) { return abort != nullptr && abort->ShouldAbort(); }

// The blur's weights on cells of n pixels. Averaging into cells and
// interpolating back widen the glow by variances of n^2 / 12 and n^2 / 6, so
// the Gaussian is narrowed to match; it is sampled at the cell centres, and
// cells that the blur's cut-off reaches only partly weigh as much of them as
// it covers.
std::vector<float> CellKernel(double radius, int32_t n) {
  if (!(radius > 0.0)) return {1.0f};
  std::vector<float> kernel = BlurKernel(radius);
  if (n == 1) return kernel;
  const double reach = double(kernel.size()) - 0.5;
  const double scale = 2.0 / std::sqrt((radius + 1.0) * (radius + 1.0) - 2.0 * n * n);
  std::vector<double> w;
  for (int32_t j = 0; (j - 0.5) * n < reach; ++j) {
    const double d = scale * j * n, cover = j == 0 ? 1.0 : std::clamp((reach - (j - 0.5) * n) / n, 0.0, 1.0);
    w.push_back(std::exp(-d * d) * cover);
  }
  double sum = w[0];
  for (size_t j = 1; j < w.size(); ++j) sum += 2.0 * w[j];
  kernel.resize(w.size());
  for (size_t j = 0; j < w.size(); ++j) kernel[j] = float(w[j] / sum);
  return kernel;
}

// Whole blocks of the convolution from the sources to `out`.
void Convolve(const std::vector<float>& w, const float* const* lo, const float* const* hi, size_t count, float* out) {
  for (size_t j0 = 0; j0 < count; j0 += kBlurBlock) ConvolveBlock(w, lo, hi, j0, out + j0);
}

}  // namespace

GlowField::GlowField(double radius, const Rect& output, const Rect& image)
    : size_(std::max(1, int32_t((radius + 1.0) / 16.0))), weights_(CellKernel(radius, size_)) {
  const int32_t n = size_, reach = int32_t(weights_.size());  // the blur's half width and one cell to interpolate
  cells_ = Rect{FloorDiv(output.left, n) - reach, FloorDiv(output.top, n) - reach,
                FloorDiv(output.right - 1, n) + 1 + reach, FloorDiv(output.bottom - 1, n) + 1 + reach}
               .Intersect({FloorDiv(image.left, n), FloorDiv(image.top, n), FloorDiv(image.right - 1, n) + 1,
                           FloorDiv(image.bottom - 1, n) + 1});
  source_ = Rect{cells_.left * n, cells_.top * n, cells_.right * n, cells_.bottom * n}.Intersect(image);
  stride_ = (size_t(cells_.Width()) + kBlurBlock - 1) / kBlurBlock * kBlurBlock;
}

int32_t GlowField::Compute(const CoreTiles& core, double gain, double k, const ByteMask* mask, Abort_Tester* abort,
                           ProgressUpdateSink* progress, double from, double to) {
  const Rect& P = source_;
  const int32_t n = size_, columns = cells_.Width(), width = P.Width();
  // Every value is written before it is read; clearing all of it first would
  // cost a pass over memory that is mostly touched here for the first time.
  values_.reset(new float[stride_ * size_t(cells_.Height())]);
  std::vector<double> a(static_cast<size_t>(width));
  std::vector<float> g(static_cast<size_t>(width));
  std::vector<uint8_t> m(mask != nullptr ? size_t(width) : 0);
  const Rect M = mask != nullptr ? mask->bounds.Intersect(P) : Rect{};
  const double middle = from + 0.6 * (to - from);
  for (int32_t cy = cells_.top; cy < cells_.bottom; ++cy) {
    if (Aborted(abort)) return kErrAborted;
    const int32_t y0 = std::max(cy * n, P.top), y1 = std::min((cy + 1) * n, P.bottom);
    float* row = Row(cy);
    if (n > 1) std::fill_n(row, columns, 0.0f);
    for (int32_t y = y0; y < y1; ++y) {
      core.ReadRow(y, P.left, P.right, a.data());
      if (mask == nullptr) {
        for (int32_t x = 0; x < width; ++x) g[size_t(x)] = float(gain * k * a[size_t(x)]);
      } else {
        std::fill(m.begin(), m.end(), uint8_t(0));
        if (y >= M.top && y < M.bottom && !M.IsEmpty())
          std::copy_n(mask->Address(M.left, y), M.Width(), m.begin() + (M.left - P.left));
        for (int32_t x = 0; x < width; ++x)
          g[size_t(x)] = float(gain * std::max(double(m[size_t(x)]), k * a[size_t(x)]));
      }
      if (n == 1) {
        std::copy(g.begin(), g.end(), row);
        continue;
      }
      for (int32_t i = 0; i < columns; ++i) {
        const int32_t x0 = std::max((cells_.left + i) * n, P.left) - P.left;
        const int32_t x1 = std::min((cells_.left + i + 1) * n, P.right) - P.left;
        row[i] += std::accumulate(g.begin() + x0, g.begin() + x1, 0.0f);
      }
    }
    if (n > 1)
      for (int32_t i = 0; i < columns; ++i) {
        const int32_t cx = cells_.left + i;
        row[i] /= float((std::min((cx + 1) * n, P.right) - std::max(cx * n, P.left)) * (y1 - y0));
      }
    ReportProgress(progress, from, middle, double(cy - cells_.top + 1) / cells_.Height());
  }
  const int32_t err = Blur(abort);
  ReportProgress(progress, from, to, 1.0);
  return err;
}

int32_t GlowField::Blur(Abort_Tester* abort) {
  const int32_t columns = cells_.Width(), rows = cells_.Height(), h = int32_t(weights_.size()) - 1;
  std::vector<const float*> lo(weights_.size()), hi(weights_.size());

  // Across: each row between h repeated edge cells.
  std::vector<float> line(stride_ + 2 * size_t(h));
  float* const start = line.data() + h;
  for (int32_t y = 0; y < rows; ++y) {
    float* row = values_.get() + size_t(y) * stride_;
    std::copy_n(row, columns, start);
    std::fill(line.begin(), line.begin() + h, row[0]);
    std::fill(start + columns, line.data() + line.size(), row[columns - 1]);
    for (int32_t i = 0; i <= h; ++i) {
      lo[size_t(i)] = start - i;
      hi[size_t(i)] = start + i;
    }
    Convolve(weights_, lo.data(), hi.data(), size_t(columns), row);
  }

  // Down: a ring of the rows within reach, copied before they are overwritten.
  const size_t ringRows = std::min(2 * size_t(h) + 1, size_t(rows));
  std::vector<float> ring(ringRows * stride_);
  const auto slot = [&](int32_t y) { return ring.data() + size_t(std::clamp(y, 0, rows - 1)) % ringRows * stride_; };
  const auto load = [&](int32_t y) { std::copy_n(values_.get() + size_t(y) * stride_, stride_, slot(y)); };
  for (int32_t y = 0; y < std::min(h, rows); ++y) load(y);
  for (int32_t y = 0; y < rows; ++y) {
    if (Aborted(abort)) return kErrAborted;
    if (y + h < rows) load(y + h);
    for (int32_t i = 0; i <= h; ++i) {
      lo[size_t(i)] = slot(y - i);
      hi[size_t(i)] = slot(y + i);
    }
    Convolve(weights_, lo.data(), hi.data(), size_t(columns), values_.get() + size_t(y) * stride_);
  }
  return 0;
}

// Within half a cell of the grid's border the line through the two outermost
// centres carries on: holding the border cell's value would flatten the glow
// along the image's edges.
GlowField::Lerp GlowField::CellLerp(int32_t pixel, int32_t first, int32_t last) const {
  const double u = (pixel + 0.5) / size_ - 0.5;
  if (first == last) return {0, 0, 0.0f};
  const int32_t c = std::clamp(int32_t(std::floor(u)), first, last - 1);
  return {c - first, c + 1 - first, float(u - c)};
}

void GlowField::ReadRow(int32_t y, int32_t x0, int32_t x1, double* out) {
  if (columnsFrom_ != x0 || columns_.size() != size_t(x1 - x0)) {
    columnsFrom_ = x0;
    columns_.resize(size_t(x1 - x0));
    for (int32_t x = x0; x < x1; ++x) columns_[size_t(x - x0)] = CellLerp(x, cells_.left, cells_.right - 1);
    cellRow_.resize(size_t(cells_.Width()));
  }
  const Lerp r = CellLerp(y, cells_.top, cells_.bottom - 1);
  const float *r0 = Row(cells_.top + r.i0), *r1 = Row(cells_.top + r.i1);
  for (size_t i = 0; i < cellRow_.size(); ++i) cellRow_[i] = r0[i] + r.t * (r1[i] - r0[i]);
  for (size_t i = 0; i < columns_.size(); ++i) {
    const Lerp& c = columns_[i];
    out[i] = cellRow_[size_t(c.i0)] + c.t * (cellRow_[size_t(c.i1)] - cellRow_[size_t(c.i0)]);
  }
}

}  // namespace kv
