// Runs an effect the ways the product does: through the built core's entry
// point and an in-memory host, whole or in tiles of a size the host asks for,
// and as the dialog's preview renders it at a reduced scale.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "framework/filter.h"
#include "platform/protocol.h"

namespace kv::test {

// An interleaved picture: colour planes, then alpha when `alpha` is set.
struct Picture {
  int width = 0, height = 0;
  int16_t mode = ps::plugInModeRGBColor;
  int colorPlanes = 3;
  bool alpha = false;
  std::vector<uint8_t> pixels;

  int Planes() const { return colorPlanes + (alpha ? 1 : 0); }
  const uint8_t* At(int x, int y) const { return pixels.data() + (size_t(y) * width + x) * Planes(); }
};

// Smooth gradients with some detail, the same for the same arguments; with
// alpha, the left quarter is transparent and the rest grows more opaque
// downwards.
Picture TestPicture(int width, int height, int16_t mode = ps::plugInModeRGBColor, int colorPlanes = 3,
                    bool alpha = false);

// RGB gradients without fine detail, so that every n-th pixel, which a
// preview sees, stands for the n x n pixels around it.
Picture SmoothPicture(int width, int height);

// Box-averaged copy, `factor` pixels to one; the size rounds up.
Picture Reduce(const Picture& full, int factor);

// A selection (one byte per pixel) of the ellipse over the middle 60 % of
// the picture, with an edge about 4 pixels soft.
std::vector<uint8_t> OvalSelection(int width, int height);

using BlockEdit = std::function<void(void* block)>;

struct HostRender {
  int tileSize = 0;                 // 0: the effect's own; else the host asks for tiles of this size
  std::vector<uint8_t> selection;   // width * height; empty: none
  double resolution = 72.0;         // pixels per inch
  BlockEdit edit;                   // changes the default block before the run
  // The entry point to run: null for the built core, loaded as a host loads
  // it; a test that changes the core's state in this process links it in.
  ps::EntryPointProc entry = nullptr;
};

// The result of one application through the entry point, or an empty
// picture with `error` set to the failing selector's result.
Picture RenderThroughHost(int32_t effect, const Picture& in, const HostRender& how = {}, int16_t* error = nullptr);

// What the effect's dialog previews of the whole image zoomed out to
// 1 / factor: the dialog is opened through the entry point, shown the whole
// image at that zoom, and cancelled once its first preview is up. Empty when
// no preview came.
Picture RenderPreview(int32_t effect, const Picture& in, int factor, const HostRender& how = {});

// Mean absolute difference over all samples.
double MeanDifference(const Picture& a, const Picture& b);

// The first tile size of 13, 37 and 100 pixels at which the render in tiles
// differs from the whole one by more than `maxLevel` anywhere, or 0.
int TileSizeThatDiffers(int32_t effect, const Picture& in, const HostRender& how, int maxLevel = 0);

// How far the preview at 1 / factor departs from the full-size render
// reduced by that factor, with the block changed by how.edit; and how far the
// preview departs with `other` (another seed, say) instead.
struct PreviewDifference {
  double same, other;
};
PreviewDifference ComparePreview(int32_t effect, const Picture& in, int factor, const HostRender& how,
                                 const BlockEdit& other);

// Renders the whole image at `scale` straight through the effect, as the
// preview does: `reduced` stands for the image at that scale. Set up once,
// run as often as wanted, for the benchmarks to time Run alone. A `selection`
// (one byte per pixel of the full-size image; empty: everything selected) is
// handed over whole as the mask source, and sampled at the scale as the mask.
class DirectRender {
 public:
  // Both pictures are taken over, so that a benchmark's peak counts one
  // copy of the image for the host and one for the output, as a host holds.
  DirectRender(int32_t effect, Picture reduced, double scale, const BlockEdit& edit = {},
               std::vector<uint8_t> selection = {});
  ~DirectRender();
  bool Run();  // false when the effect failed
  // A fresh effect object for the next run: what the last one kept between
  // renders (a cached full-size result) is gone.
  void Restart();
  const Picture& Output() const;
  // The parameter block the runs use, to change between them.
  void* Block();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kv::test
