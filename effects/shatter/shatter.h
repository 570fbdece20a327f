// Shatter: the selected area breaks into thick pieces of glass that fly apart
// and tumble, drawn as a lit 3D scene with soft shadows over what the pieces
// leave behind.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kShatterEffect = 6;

// Lives in the host's parameters handle between runs: the layout is fixed,
// the values without a control included.
struct ShatterBlock {
  int32_t filterId;
  double unused8;  // 10.0
  Length pieceSize;
  double unused32;  // 0.0
  double thickness;  // 0..100
  double unused48;   // 50.0
  double time;       // 0..100
  double tumble;     // 0..100
  double unused72;   // 2.0
  double shadowOpacity;  // 0..100
  Length shadowBlurWidth;
  bool unusedFlags[2];
  double passes;  // rendering passes, rounded
  uint16_t randomSeed;
  LayerFill insideFill;
  double increaseContrast;     // 0..100
  double lightDirection;       // degrees
  double highlightBrightness;  // 0..100
  double highlightSize;        // 0..100
};
static_assert(sizeof(ShatterBlock) == 176 && alignof(ShatterBlock) == 8);
static_assert(offsetof(ShatterBlock, unused8) == 8 && offsetof(ShatterBlock, pieceSize) == 16 &&
              offsetof(ShatterBlock, unused32) == 32 && offsetof(ShatterBlock, thickness) == 40 &&
              offsetof(ShatterBlock, unused48) == 48 && offsetof(ShatterBlock, time) == 56 &&
              offsetof(ShatterBlock, tumble) == 64 && offsetof(ShatterBlock, unused72) == 72 &&
              offsetof(ShatterBlock, shadowOpacity) == 80 && offsetof(ShatterBlock, shadowBlurWidth) == 88 &&
              offsetof(ShatterBlock, unusedFlags) == 104 && offsetof(ShatterBlock, passes) == 112 &&
              offsetof(ShatterBlock, randomSeed) == 120 && offsetof(ShatterBlock, insideFill) == 124 &&
              offsetof(ShatterBlock, increaseContrast) == 144 && offsetof(ShatterBlock, lightDirection) == 152 &&
              offsetof(ShatterBlock, highlightBrightness) == 160 && offsetof(ShatterBlock, highlightSize) == 168);

// Masks by itself: the pieces carry the selected pixels, and the selection's
// softness becomes the pieces' transparency.
class Explode : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(ShatterBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  bool SupportsCMYK() const override { return false; }
  void SetDefaults(void* block) const override;
  Rect InputAreaFor(const Rect& area, const void* block, double scale) const override;
  void InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void* block,
                        double scale) const override;
  int32_t Render(RenderContext& context) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "Shatter"; }
  std::string HelpPage() const override { return "Shatter.html"; }
};

}  // namespace kv
