// An effect made only for the tests: it inverts the colour channels by a
// strength taken from its block, and records what the driver asked of it.
#pragma once

#include <vector>

#include "framework/filter.h"
#include "parameters/parameters.h"

namespace kv::test {

constexpr int32_t kTestEffect = 13;

struct InvertBlock {
  int32_t filterId;
  int32_t pad;
  double strength;  // 0..100: how far each channel moves towards its inverse
};

struct InvertLog {
  std::vector<Rect> tiles;
  int prepares = 0, finishes = 0;
};

class InvertEffect : public Filter {
 public:
  explicit InvertEffect(InvertLog* log = nullptr) : log_(log) {}

  bool onePiece = true;
  int32_t tileSize = 500;
  bool needsLayerOrSelection = false;
  int32_t failWith = 0;
  // Runs first in every render, on whatever thread renders; a non-zero
  // answer ends the render with it.
  std::function<int32_t(RenderContext&)> onRender;

  uint32_t ParameterBlockSize() const override { return sizeof(InvertBlock); }
  bool NeedsSelectionOrLayer() const override { return needsLayerOrSelection; }
  bool RendersInOnePiece() const override { return onePiece; }
  int32_t TileSize() const override { return tileSize; }
  void SetDefaults(void* block) const override { *static_cast<InvertBlock*>(block) = {filterId, 0, 100.0}; }
  int32_t PrepareRender(RenderContext&) override {
    if (log_) ++log_->prepares;
    return 0;
  }
  void FinishRender(void*) override {
    if (log_) ++log_->finishes;
  }
  int32_t Render(RenderContext& c) override {
    if (log_) log_->tiles.push_back(*c.tile);
    if (failWith != 0) return failWith;
    if (onRender)
      if (int32_t err = onRender(c)) return err;
    const double s = static_cast<const InvertBlock*>(c.block)->strength / 100.0;
    const int32_t colors = c.output->format.colorChannels, step = c.output->pixelStep;
    for (int32_t y = c.tile->top; y < c.tile->bottom; ++y) {
      if (c.ShouldAbort()) return 1;
      const uint8_t* in = c.input->Address(c.tile->left, y);
      uint8_t* out = c.output->Address(c.tile->left, y);
      for (int32_t x = 0; x < c.tile->Width(); ++x, in += step, out += step) {
        for (int32_t k = 0; k < colors; ++k) out[k] = uint8_t(in[k] + (255 - 2 * in[k]) * s);
        if (c.output->format.hasAlpha) out[colors] = in[colors];
      }
    }
    return 0;
  }
  int32_t BuildParameters(ParameterList& list, void* block) override {
    auto strength = std::make_unique<SliderParameter>();
    strength->text.label = "Strength";
    strength->key = ps::FourCC("TSst");
    strength->value = &static_cast<InvertBlock*>(block)->strength;
    return list.AddParameter(std::move(strength));
  }
  std::string SettingsName() const override { return "Invert"; }

 private:
  InvertLog* log_;
};

}  // namespace kv::test
