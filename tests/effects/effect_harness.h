// Runs an effect the ways the product does: through the built core's entry
// point and an in-memory host with tiles of a chosen size, and as the preview does, on a
// reduced copy of the image at a render scale.
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

// Smooth gradients with some detail, the same for the same arguments.
Picture TestPicture(int width, int height, int16_t mode = ps::plugInModeRGBColor, int colorPlanes = 3,
                    bool alpha = false);

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
};

// The result of one application through the entry point, or an empty
// picture with `error` set to the failing selector's result.
Picture RenderThroughHost(int32_t effect, const Picture& in, const HostRender& how = {}, int16_t* error = nullptr);

// Renders the whole image at `scale` straight through the effect, as the
// preview does: `reduced` stands for the image at that scale. Set up once,
// run as often as wanted (the benchmarks time Run alone). A `selection`
// (one byte per pixel of the full-size image; empty: everything selected) is
// handed over whole as the mask source, and sampled at the scale as the mask.
class DirectRender {
 public:
  DirectRender(int32_t effect, const Picture& reduced, double scale, const BlockEdit& edit = {},
               const std::vector<uint8_t>& selection = {});
  ~DirectRender();
  bool Run();  // false when the effect failed
  const Picture& Output() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};
Picture RenderAtScale(int32_t effect, const Picture& reduced, double scale, const BlockEdit& edit = {},
                      const std::vector<uint8_t>& selection = {});

// Mean absolute difference over all samples.
double MeanDifference(const Picture& a, const Picture& b);

// How far the preview at 1 / factor of `in` departs from the full-size render
// reduced by that factor, both with the block changed by `edit`; and how far
// the preview departs with `other` (another seed, say) instead.
struct PreviewDifference {
  double same, other;
};
PreviewDifference ComparePreview(int32_t effect, const Picture& in, int factor, const BlockEdit& edit,
                                 const BlockEdit& other, const std::vector<uint8_t>& selection = {});

}  // namespace kv::test
