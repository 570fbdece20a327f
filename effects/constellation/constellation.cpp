#include "effects/constellation/constellation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "image/edge_strength.h"
#include "effects/constellation/star_brushes.h"
#include "parameters/effect_parameters.h"
#include "host/host_color.h"
#include "framework/render_selection.h"
#include "parameters/parameters.h"
#include "host/host_calls.h"
#include "image/pixel_ops.h"
#include "image/random.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Constellation::SetDefaults(void* block) const {
  ConstellationBlock& b = *static_cast<ConstellationBlock*>(block);
  b = {};
  b.filterId = kConstellationEffect;
  b.backgroundFill = {kFillWithColor, Color::RGB(0, 0, 0)};
  b.starSize = {0.7, kUnitMillimeters};
  b.sizeVariation = 50.0;
  b.edgeStarDensity = 50.0;
  b.interiorStarDensity = 25.0;
  b.overdrive = 50.0;
  b.twinkleAmount = 75.0;
  b.twinkleRotation = 45.0;
  b.randomSeed = 1;
}

namespace {

constexpr uint32_t kTwinkleRotationKey = ps::FourCC("COtr");

}  // namespace

int32_t Constellation::BuildParameters(ParameterList& list, void* block) {
  ConstellationBlock& b = *static_cast<ConstellationBlock*>(block);
  auto size = MakeParameter<LengthSliderParameter>("Star Size", ps::FourCC("Rds "), &b.starSize);
  size->minimum = 2.0;
  size->maximum = 50.0;
  int32_t err = list.AddParameter(std::move(size));
  if (err == 0) err = AddSlider(list, "Size Variation", ps::FourCC("COsv"), &b.sizeVariation);
  if (err == 0) err = AddSlider(list, "Edge Star Density", ps::FourCC("COed"), &b.edgeStarDensity, 1.0, 100.0);
  if (err == 0) err = AddSlider(list, "Interior Star Density", ps::FourCC("COid"), &b.interiorStarDensity);
  if (err == 0) err = AddSlider(list, "Overdrive", ps::FourCC("COov"), &b.overdrive);
  if (err == 0) {
    auto twinkle = MakeParameter<SliderParameter>("Twinkle Amount", ps::FourCC("COtt"), &b.twinkleAmount);
    twinkle->unit = kUnitPercent;
    err = list.AddParameter(std::move(twinkle));
  }
  if (err == 0) err = AddParameter<DirectionParameter>(list, "Twinkle Rotation", kTwinkleRotationKey, &b.twinkleRotation);
  if (err == 0) err = list.AddParameter(MakeLayerFill("Background Fill", &b.backgroundFill));
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

int32_t Constellation::UpdateParameterStates(ParameterList& list, const void* block) {
  const ConstellationBlock& b = *static_cast<const ConstellationBlock*>(block);
  for (auto& p : list) p->Enable(!p->HasKey(kTwinkleRotationKey) || b.twinkleAmount > 0.0);
  return 0;
}

namespace {

// The star size in full-size pixels at the image's resolution; an unclamped
// block must not give stars of no size nor brushes no memory could hold.
double StarPixels(const ConstellationBlock& b) {
  const ps::FilterRecord* host = Session().record;
  const double resolution = host != nullptr ? ResolutionFromFixed(host->imageHRes) : 72.0;
  return std::clamp(LengthToPixels(b.starSize, resolution), 0.5, 500.0);
}

// Radii of the largest and smallest stars, in render pixels.
struct Radii {
  double largest, smallest;
};
Radii StarRadii(const ConstellationBlock& b, double scale) {
  const double r = StarPixels(b) / scale, v = std::clamp(b.sizeVariation * 0.01, 0.0, 1.0);
  return {r + 0.5 * r * v, r - 0.5 * r * v};
}

}  // namespace

Rect Constellation::InputAreaFor(const Rect& area, const void* block, double scale) const {
  // Half the side of the largest twinkle brush.
  const int32_t reach = int32_t(std::ceil(5.0 * StarRadii(*static_cast<const ConstellationBlock*>(block), scale).largest));
  return area.Inflate(reach, reach);
}

std::unique_ptr<uint8_t[]> Constellation::NewParameterCache() const {
  auto cache = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[sizeof(ConstellationBlock)]);
  if (cache) {
    ConstellationBlock empty{};
    std::memcpy(cache.get(), &empty, sizeof empty);
  }
  return cache;
}

void Constellation::StoreParameterCache(const void* block, void* cache) const {
  std::memcpy(cache, block, sizeof(ConstellationBlock));
}

bool Constellation::ParameterCacheMatches(const void* cache, const void* block) const {
  ConstellationBlock a, b;
  std::memcpy(&a, cache, sizeof a);
  std::memcpy(&b, block, sizeof b);
  return a.backgroundFill == b.backgroundFill && StarPixels(a) == StarPixels(b) && a.sizeVariation == b.sizeVariation &&
         a.edgeStarDensity == b.edgeStarDensity && a.interiorStarDensity == b.interiorStarDensity &&
         a.overdrive == b.overdrive && a.twinkleAmount == b.twinkleAmount &&
         a.twinkleRotation == b.twinkleRotation && a.randomSeed == b.randomSeed;
}

// --- render ------------------------------------------------------------------

namespace {

bool Aborted(const RenderContext& c) { return c.ShouldAbort(); }

// The selection over any rectangle: 0 beyond the working area.
void MaskRow(const ByteMask& selection, int32_t left, int32_t y, int32_t count, uint8_t* out) {
  std::fill_n(out, count, uint8_t(0));
  const Rect& s = selection.bounds;
  if (y < s.top || y >= s.bottom) return;
  const int32_t from = std::max(left, s.left), to = std::min(left + count, s.right);
  if (from < to) std::memcpy(out + (from - left), selection.Address(from, y), size_t(to - from));
}

int32_t FillBackground(const ConstellationBlock& b, const RenderContext& c, const ByteMask& selection) {
  const ByteImage& in = *c.input;
  ByteImage& out = *c.output;
  const PixelFormat& f = out.format;
  const Rect tile = c.tile->Intersect(out.bounds).Intersect(in.bounds);
  const uint32_t mode = b.backgroundFill.mode;
  if (mode == kFillKeepOriginal || tile.IsEmpty()) return 0;
  if (mode == kFillTransparent && !f.hasAlpha) return 0;

  // The fill colour with the selection as its opacity.
  const PixelFormat fillFormat = PixelFormat::Of(f.mode, f.colorChannels, true);
  const BytePixel colour = HostColorPixel(b.backgroundFill.color, f, 255);
  std::vector<uint8_t> mask(size_t(tile.Width())), fill(size_t(tile.Width()) * fillFormat.channelCount);
  for (int32_t i = 0; i < tile.Width(); ++i)
    std::copy_n(colour.values, f.colorChannels, &fill[size_t(i) * fillFormat.channelCount]);
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    if (Aborted(c)) return kErrAborted;
    ReportProgress(c.progress, 0.0, 0.2, double(y - tile.top) / tile.Height());
    uint8_t* px = out.Address(tile.left, y);
    if (mode == kFillTransparent) {
      MaskRow(selection, tile.left, y, tile.Width(), mask.data());
      uint8_t* alpha = px + f.colorChannels;
      for (int32_t i = 0; i < tile.Width(); ++i, alpha += f.channelCount)
        *alpha = c.hasTransparency ? 0 : uint8_t(*alpha - *alpha * mask[size_t(i)] / 255);
    } else if (c.hasTransparency) {
      for (int32_t i = 0; i < tile.Width(); ++i) std::copy_n(colour.values, f.channelCount, px + i * f.channelCount);
    } else {
      MaskRow(selection, tile.left, y, tile.Width(), mask.data());
      for (int32_t i = 0; i < tile.Width(); ++i) fill[size_t(i) * fillFormat.channelCount + f.colorChannels] = mask[size_t(i)];
      // Wholly selected runs take the colour as it is, as the composite would.
      const uint8_t* background = in.Address(tile.left, y);
      for (int32_t i = 0; i < tile.Width();) {
        int32_t end = i + 1;
        const bool whole = mask[size_t(i)] == 255;
        while (end < tile.Width() && (mask[size_t(end)] == 255) == whole) ++end;
        if (whole) {
          for (int32_t k = i; k < end; ++k) std::copy_n(colour.values, f.channelCount, px + k * f.channelCount);
        } else {
          CompositeRowOver(px + i * f.channelCount, &fill[size_t(i) * fillFormat.channelCount], fillFormat,
                           background + i * f.channelCount, f, end - i);
        }
        i = end;
      }
    }
  }
  return 0;
}

// The strongest twentieth of the selected pixels' edges, in scan order.
std::vector<Point> EdgePoints(const RenderContext& c, const ByteMask& selection, const Rect& A) {
  const Rect E = A.Inflate(-1, -1);
  std::vector<Point> points;
  if (E.IsEmpty()) return points;
  int32_t err = 0;
  ByteMask strength(err, E);
  if (err != 0) throw std::bad_alloc();
  std::array<int64_t, 256> histogram{};
  std::vector<uint8_t> mask(size_t(E.Width()));
  for (int32_t y = E.top; y < E.bottom; ++y) {
    uint8_t* e = strength.Row(y);
    EdgeStrengthRow(*c.input, E.left, y, E.Width(), e);
    MaskRow(selection, E.left, y, E.Width(), mask.data());
    for (int32_t i = 0; i < E.Width(); ++i) {
      if (mask[size_t(i)] != 0) ++histogram[e[i]];
      else e[i] = 0;  // never above the level
    }
    ReportProgress(c.progress, 0.2, 0.75, 0.5 * (y - E.top + 1) / E.Height());
  }
  const int64_t target = int64_t(std::floor(double(E.Width()) * E.Height() * 0.05 + 0.5));
  int32_t level = 0;
  int64_t sum = 0;
  for (int32_t v = 255; v >= 0; --v) {
    sum += histogram[size_t(v)];
    if (sum >= target) {
      level = v;
      break;
    }
  }
  int64_t above = 0;
  for (int32_t v = level + 1; v < 256; ++v) above += histogram[size_t(v)];
  points.reserve(size_t(above));
  for (int32_t y = E.top; y < E.bottom; ++y) {
    const uint8_t* e = strength.Row(y);
    for (int32_t i = 0; i < E.Width(); ++i)
      if (e[i] > level) points.push_back({E.left + i, y});
    ReportProgress(c.progress, 0.2, 0.75, 0.5 + 0.5 * (y - E.top + 1) / E.Height());
  }
  return points;
}

struct Star {
  Point at;
  bool twinkle;
};

// Exact quotients n / u for every numerator a composite reaches (below
// 2^17) through one multiplication: n * ceil(2^32 / u) >> 32.
struct Reciprocals {
  uint64_t of[256] = {};
  Reciprocals() {
    for (uint64_t u = 1; u < 256; ++u) of[u] = ((uint64_t(1) << 32) + u - 1) / u;
  }
};

// A colour with alpha a (1..255) over the pixel at px, with the arithmetic
// of CompositeRowOver, for N channels of which the last is alpha if Alpha.
template <int32_t N, bool Alpha>
inline void PutOver(uint8_t* px, const uint8_t* colour, int32_t a, const Reciprocals& inverse) {
  if constexpr (!Alpha) {
    for (int32_t k = 0; k < N; ++k) px[k] = uint8_t(px[k] + (colour[k] - px[k]) * a / 255);
  } else {
    constexpr int32_t kAlpha = N - 1;
    const int32_t t = px[kAlpha] * (255 - a) / 255, u = a + t;
    const uint64_t r = inverse.of[u];
    for (int32_t k = 0; k < kAlpha; ++k) px[k] = uint8_t((uint64_t(a * colour[k] + t * px[k]) * r) >> 32);
    px[kAlpha] = uint8_t(u);
  }
}

// Stamps brushes in the colour under their centre, then white over them as
// far as the overdrive asks.
class StarStamper {
 public:
  StarStamper(const ByteImage& in, ByteImage& out, double overdrive)
      : in_(in), out_(out), whitePixel_(HostColorPixel(Color::RGB(255, 255, 255), out.format, 255)) {
    for (int32_t u = 0; u < 256; ++u) {
      colourAlpha_[size_t(u)] = uint8_t(255.0 * std::clamp(u / 255.0 * std::sqrt(1.0 - overdrive), 0.0, 1.0));
      whiteAlpha_[size_t(u)] = uint8_t(255.0 * std::clamp(u / 255.0 * overdrive, 0.0, 1.0));
    }
  }

  // Stamps the stars in their order, a tile at a time: each pixel sees the
  // same stamps in the same order as when they are stamped whole one after
  // the other, while the tile and the pixels under it stay in the caches.
  int32_t StampAll(const std::vector<Star>& stars, const StarBrush& round, const StarBrush& twinkle) {
    const Rect& o = out_.bounds;
    const int32_t columns = (o.Width() + kTile - 1) / kTile, rows = (o.Height() + kTile - 1) / kTile;
    // The tiles a star's brush reaches, or false when it reaches none.
    const auto reach = [&](const Star& s, Rect& tiles) {
      const int32_t size = (s.twinkle ? twinkle : round).size;
      const Rect box = Rect{s.at.x - size / 2, s.at.y - size / 2, s.at.x - size / 2 + size, s.at.y - size / 2 + size}
                           .Intersect(o);
      if (box.IsEmpty() || !in_.bounds.Contains(s.at)) return false;
      tiles = {(box.left - o.left) / kTile, (box.top - o.top) / kTile, (box.right - 1 - o.left) / kTile + 1,
               (box.bottom - 1 - o.top) / kTile + 1};
      return true;
    };
    // The stars sorted by tile, each tile's in their order.
    starts_.assign(size_t(columns) * size_t(rows) + 1, 0);
    Rect t;
    for (const Star& s : stars)
      if (reach(s, t))
        for (int32_t j = t.top; j < t.bottom; ++j)
          for (int32_t i = t.left; i < t.right; ++i) ++starts_[size_t(j) * size_t(columns) + size_t(i) + 1];
    for (size_t k = 1; k < starts_.size(); ++k) starts_[k] += starts_[k - 1];
    sorted_.resize(starts_.back());
    std::vector<uint32_t> next(starts_.begin(), starts_.end() - 1);
    for (const Star& s : stars)
      if (reach(s, t))
        for (int32_t j = t.top; j < t.bottom; ++j)
          for (int32_t i = t.left; i < t.right; ++i) sorted_[next[size_t(j) * size_t(columns) + size_t(i)]++] = s;
    return ForPixelLayout(out_.format, [&]<int32_t N, bool Alpha>() {
      for (int32_t j = 0; j < rows; ++j)
        for (int32_t i = 0; i < columns; ++i) {
          const size_t tile = size_t(j) * size_t(columns) + size_t(i);
          const Rect clip = Rect{o.left + i * kTile, o.top + j * kTile, o.left + (i + 1) * kTile,
                                 o.top + (j + 1) * kTile}.Intersect(o);
          for (uint32_t k = starts_[tile]; k < starts_[tile + 1]; ++k) {
            const Star& s = sorted_[k];
            Stamp<N, Alpha>(s.twinkle ? twinkle : round, s.at, clip);
          }
        }
      return 0;
    }, kErrGeneral);
  }

 private:
  static constexpr int32_t kTile = 64;

  // The part within `clip` of a stamp at p, which lies in the input.
  template <int32_t N, bool Alpha>
  void Stamp(const StarBrush& brush, Point p, const Rect& clip) {
    const uint8_t* star = in_.Address(p.x, p.y);
    if (in_.format.hasAlpha && star[in_.format.colorChannels] == 0) return;
    const int32_t left = p.x - brush.size / 2, top = p.y - brush.size / 2;
    const uint8_t* white = whitePixel_.values;
    const int32_t firstRun = std::max(clip.top - top, 0), endRun = std::min(clip.bottom - top, brush.size);
    for (const StarBrush::Run& run : brush.runs) {
      if (run.y < firstRun) continue;
      if (run.y >= endRun) break;
      const int32_t from = std::max(run.from, clip.left - left), to = std::min(run.to, clip.right - left);
      if (from >= to) continue;
      const uint8_t* u = &brush.values[size_t(run.y) * brush.size];
      uint8_t* px = out_.Address(left + from, top + run.y);
      // An alpha of 0 leaves the pixel as it was.
      for (int32_t i = from; i < to; ++i, px += N) {
        if (const int32_t a = colourAlpha_[u[i]]) PutOver<N, Alpha>(px, star, a, inverse_);
        if (const int32_t a = whiteAlpha_[u[i]]) PutOver<N, Alpha>(px, white, a, inverse_);
      }
    }
  }

  const ByteImage& in_;
  ByteImage& out_;
  BytePixel whitePixel_;
  std::array<uint8_t, 256> colourAlpha_, whiteAlpha_;
  Reciprocals inverse_;
  std::vector<uint32_t> starts_;
  std::vector<Star> sorted_;
};

}  // namespace

int32_t Constellation::RenderEntireImage(RenderContext& c) {
  const ConstellationBlock& b = *static_cast<const ConstellationBlock*>(c.block);
  // The whole selection, whatever piece the caller renders.
  const ByteMask& selection = FullSizeSelection(c);
  const Rect A = c.sourceArea->Intersect(c.input->bounds);
  try {
    if (int32_t err = FillBackground(b, c, selection)) return err;
    if (A.IsEmpty()) return 0;
    const std::vector<Point> edges = EdgePoints(c, selection, A);
    if (Aborted(c)) return kErrAborted;

    const double Ne = std::floor(double(edges.size()) * b.edgeStarDensity * 0.01 + 0.5);
    const double Ni = std::floor(0.5 + double(A.Width()) * A.Height() * b.interiorStarDensity * 0.5 * 0.01);
    const double N = Ne + Ni;
    if (N < 1.0) return 0;

    const Radii radii = StarRadii(b, c.scale);
    const double v = std::clamp(b.sizeVariation * 0.01, 0.0, 1.0);
    const int32_t K = std::clamp(int32_t(std::floor(10.0 * v + 0.5)), 1, 10);
    const double edgeBudget = std::floor(Ne / K), interiorBudget = std::floor(Ni / K);
    const double dr = std::max(0.001, (radii.largest - radii.smallest) / K);
    const double twinkles = std::floor(b.twinkleAmount * 0.01 * N + 0.5);
    const double theta = b.twinkleRotation * 0.017453292;
    RandomNumberGenerator random(b.randomSeed);
    StarStamper stamper(*c.input, *c.output, std::clamp(b.overdrive * 0.01, 0.0, 1.0));

    // Interior stars are picked in A less its last column and row; without
    // a selected pixel there, none can be.
    const Rect picks{A.left, A.top, A.right - 1, A.bottom - 1};
    bool canPick = false, whole = !picks.IsEmpty() && selection.bounds.Contains(picks);
    for (int32_t y = picks.top; y < picks.bottom && whole; ++y)
      whole = std::memchr(selection.Address(picks.left, y), 0, size_t(picks.Width())) == nullptr;
    for (int32_t y = picks.top; y < picks.bottom && !canPick && !whole; ++y)
      for (int32_t x = picks.left; x < picks.right && !canPick; ++x)
        canPick = selection.bounds.Contains(x, y) && selection(x, y) != 0;
    canPick = canPick || whole;

    double placed = 0.0;
    StarBrush round, twinkle;
    std::vector<Star> stars;
    for (int32_t k = 0; k < K; ++k) {
      ReportProgress(c.progress, 0.0, 1.0, 0.75 + 0.25 * std::clamp(placed / N, 0.0, 1.0));
      if (Aborted(c)) return kErrAborted;
      const double s = (radii.largest - k * dr) / 2.0;
      if (int32_t err = MakeRoundBrush(s, round)) return err;
      if (int32_t err = MakeTwinkleBrush(s, theta, twinkle)) return err;
      if (round.mass <= 0.0 || twinkle.mass <= 0.0) continue;
      // The class's stars are picked first, then stamped in that order.
      stars.clear();
      const auto add = [&](Point p, double share) {
        const bool twinkling = placed < twinkles;
        const double mass = share * (twinkling ? twinkle : round).mass;
        stars.push_back({p, twinkling});
        placed += mass;
        return mass;
      };
      for (double count = 0.0; count < edgeBudget;)
        count += add(edges[size_t(random.Below(std::max<int32_t>(1, int32_t(edges.size()) - 1)))], 1.0 / 3.0);
      int64_t misses = 0;
      for (double count = 0.0; canPick && count < interiorBudget;) {
        const int32_t x = random.Between(picks.left, picks.right), y = random.Between(picks.top, picks.bottom);
        if (!whole && (!selection.bounds.Contains(x, y) || selection(x, y) == 0)) {
          if (++misses % 65536 == 0 && Aborted(c)) return kErrAborted;
          continue;
        }
        count += add({x, y}, 1.0);
      }
      if (int32_t err = stamper.StampAll(stars, round, twinkle)) return err;
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

}  // namespace kv
