#include "effects/classic_mosaic/edge_lines.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <vector>

#include "image/edge_strength.h"

namespace kv {

namespace {

constexpr uint8_t kEdge = 0, kClear = 255;

bool Aborted(Abort_Tester* abort) { return abort != nullptr && abort->ShouldAbort(); }

// The strongest edges of the selected pixels: as many as the sensitivity asks
// for, counted from the strongest down. Unmeasured pixels are no edge: the
// selection's border bounds the rings by itself.
int32_t MarkEdges(const ByteImage& input, const ByteMask& selection, double sensitivity, ByteMask& lines,
                  Abort_Tester* abort) {
  const Rect B = selection.bounds.Inflate(-1, -1);
  lines.Fill(kClear);
  std::array<int64_t, 256> histogram{};
  int64_t n = 0;
  for (int32_t y = B.top; y < B.bottom; ++y) {
    if (Aborted(abort)) return kErrAborted;
    uint8_t* e = lines.Address(B.left, y);
    const uint8_t* m = selection.Address(B.left, y);
    EdgeStrengthRow(input, B.left, y, B.Width(), e);
    for (int32_t i = 0; i < B.Width(); ++i) {
      if (m[i] > 127) {
        ++histogram[e[i]];
        ++n;
      } else {
        e[i] = 0;
      }
    }
  }

  const double share = sensitivity * 0.01 * 0.058 + 0.002;
  int64_t remaining = int64_t(std::floor(double(n) * share + 0.5));
  int32_t b = 255;
  while (b >= 0 && remaining >= 1) remaining -= histogram[size_t(b--)];
  const int32_t t = std::max(1, b + 1);  // 256: no edge at all

  std::array<uint8_t, 256> classify;
  for (int32_t v = 0; v < 256; ++v) classify[size_t(v)] = v >= t ? kEdge : kClear;
  for (int32_t y = B.top; y < B.bottom; ++y) {
    uint8_t* e = lines.Address(B.left, y);
    for (int32_t i = 0; i < B.Width(); ++i) e[i] = classify[e[i]];
  }
  return 0;
}

// One 3 x 3 pass over row y from `left` to `right`: erosion keeps a pixel
// clear only when its whole window is, which grows the edges by a pixel;
// dilation shrinks them back. The maps hold only 0 and 255, so these are the
// bitwise and and or of the window, which the compiler runs many at a time.
template <bool Erode>
void MorphRow(const ByteMask& src, ByteMask& dst, int32_t y, int32_t left, int32_t right, std::vector<uint8_t>& column) {
  const auto op = [](uint8_t a, uint8_t b) -> uint8_t { return Erode ? a & b : a | b; };
  const int32_t w = right - left;
  const uint8_t* mid = src.Address(left - 1, y);
  const uint8_t* up = mid - src.rowStride;
  const uint8_t* down = mid + src.rowStride;
  uint8_t* c = column.data();
  for (int32_t i = 0; i < w + 2; ++i) c[i] = op(op(up[i], mid[i]), down[i]);
  uint8_t* out = dst.Address(left, y);
  for (int32_t i = 0; i < w; ++i) out[i] = op(op(c[i], c[i + 1]), c[i + 2]);
}

// The thinning templates as bits of the eight neighbours NW, N, NE, W, E, SW,
// S, SE (bit 0 first): those that must be edge and those that must be clear.
struct Template {
  uint8_t edge, clear;
};
constexpr uint8_t NW = 1, N = 2, NE = 4, W = 8, E = 16, SW = 32, S = 64, SE = 128;
constexpr Template kTemplates[8] = {
    {SW | S | SE, NW | N | NE},
    {W | S, N | NE | E},
    {NW | W | SW, NE | E | SE},
    {N | W, E | S | SE},
    {NW | N | NE, SW | S | SE},
    {N | E, W | SW | S},
    {NE | E | SE, NW | W | SW},
    {E | S, NW | N | W},
};

// Whether each template matches each neighbourhood code.
struct TemplateTable {
  bool match[8][256];
  TemplateTable() {
    for (int t = 0; t < 8; ++t)
      for (int code = 0; code < 256; ++code)
        match[t][code] = (code & kTemplates[t].edge) == kTemplates[t].edge && (code & kTemplates[t].clear) == 0;
  }
};

// Strips the edge lines' outer pixels template by template until they are
// one pixel wide or `rounds` have passed. Each pass matches against the map
// as it was before the pass, so its removals are collected first and applied
// after. A pixel that did not match a template cannot match it again until a
// pixel of its window changes: `stamps` keeps, per pixel, the pass (modulo
// 256) at which its window last changed, and only pixels whose window changed
// in the last eight passes are looked at again. A stale stamp that wraps
// into that range only costs a needless look.
int32_t Thin(ByteMask& lines, ByteMask& stamps, const Rect& C, int32_t rounds, Abort_Tester* abort) {
  static const TemplateTable table;
  const ptrdiff_t stride = lines.rowStride;
  uint8_t* map = lines.data;
  uint8_t* stamp = stamps.data;
  // Offsets into the map, counted first so the list takes no more room than it needs.
  std::vector<uint32_t> listed, removed;
  size_t count = 0;
  for (int32_t y = C.top; y < C.bottom; ++y) {
    const uint8_t* row = lines.Address(C.left, y);
    count += size_t(std::count(row, row + C.Width(), kEdge));
  }
  listed.reserve(count);
  for (int32_t y = C.top; y < C.bottom; ++y) {
    const uint8_t* row = lines.Address(C.left, y);
    const uint32_t base = uint32_t(row - map);
    for (int32_t i = 0; i < C.Width(); ++i)
      if (row[i] == kEdge) listed.push_back(base + uint32_t(i));
  }
  if (listed.empty()) return 0;
  stamps.Fill(0);

  const ptrdiff_t offsets[8] = {-stride - 1, -stride, -stride + 1, -1, 1, stride - 1, stride, stride + 1};
  uint32_t pass = 0;
  for (int32_t round = 0; round < rounds; ++round) {
    bool any = false;
    for (int32_t t = 0; t < 8; ++t, ++pass) {
      if (Aborted(abort)) return kErrAborted;
      const bool* match = table.match[t];
      removed.clear();
      for (const uint32_t p : listed) {
        if (map[p] != kEdge || uint8_t(pass - stamp[p]) >= 8) continue;
        uint32_t code = 0;
        for (int32_t k = 0; k < 8; ++k) code |= uint32_t(map[p + offsets[k]] == kEdge) << k;
        if (match[code]) removed.push_back(p);
      }
      for (const uint32_t p : removed) {
        map[p] = kClear;
        for (const ptrdiff_t o : offsets) stamp[p + o] = uint8_t(pass + 1);
      }
      any = any || !removed.empty();
    }
    if (!any) break;
    std::erase_if(listed, [&](uint32_t p) { return map[p] != kEdge; });
  }
  return 0;
}

}  // namespace

int32_t TraceEdgeLines(const ByteImage& input, const ByteMask& selection, const EdgeLineSettings& settings,
                       ByteMask& lines, ByteMask& work, Abort_Tester* abort, ProgressUpdateSink* progress) {
  const Rect A = selection.bounds;
  if (int32_t err = lines.Allocate(A, ByteMask::kFormat)) return err;
  if (int32_t err = work.Allocate(A, ByteMask::kFormat)) return err;
  try {
    if (int32_t err = MarkEdges(input, selection, settings.sensitivity, lines, abort)) return err;
    ReportProgress(progress, 0.0, 1.0, 0.1);

    // Every 3 x 3 window of the passes lies inside B.
    const Rect C = A.Inflate(-2, -2);
    const int32_t steps = int32_t(std::ceil(0.125 * settings.tileSize));
    const int32_t r = std::min(5, steps);
    work.CopyFrom(lines);
    if (!C.IsEmpty()) {
      std::vector<uint8_t> column(size_t(C.Width()) + 2);
      for (int32_t pass = 0; pass < 2 * r; ++pass) {
        const bool erode = pass < r;
        ByteMask& src = pass % 2 == 0 ? lines : work;
        ByteMask& dst = pass % 2 == 0 ? work : lines;
        for (int32_t y = C.top; y < C.bottom; ++y) {
          if (Aborted(abort)) return kErrAborted;
          if (erode) MorphRow<true>(src, dst, y, C.left, C.right, column);
          else MorphRow<false>(src, dst, y, C.left, C.right, column);
        }
      }
    }
    ReportProgress(progress, 0.0, 1.0, 0.2);

    if (!C.IsEmpty())
      if (int32_t err = Thin(lines, work, C, std::min(50, 8 * steps), abort)) return err;
    ReportProgress(progress, 0.0, 1.0, 0.3);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

}  // namespace kv
