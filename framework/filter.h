// The abstract effect: everything the run sequence, the render driver, the
// dialog and the settings code ask of an effect.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "image/image.h"
#include "image/progress.h"
#include "platform/protocol.h"

namespace kv {

class ParameterList;
struct WorkingArea;

constexpr int32_t kEffectCount = 14;
constexpr uint32_t kParametersHandleSize = 32000;

// What one render call works on. Built by the render driver and the preview.
struct RenderContext {
  ps::FilterRecord* host = nullptr;
  const Rect* imageBounds = nullptr;
  const Rect* area = nullptr;
  const Rect* sourceBounds = nullptr;
  const Rect* sourceArea = nullptr;
  const Rect* tile = nullptr;
  ByteImage* input = nullptr;
  ByteImage* output = nullptr;
  ByteMask* mask = nullptr;
  ByteMask* maskSource = nullptr;
  void* hostInput = nullptr;
  void* hostOutput = nullptr;
  WorkingArea* areaRecord = nullptr;
  void* block = nullptr;
  Abort_Tester* abortTester = nullptr;
  ProgressUpdateSink* progress = nullptr;
  int16_t imageMode = 0;
  const uint8_t* foreground = nullptr;
  const uint8_t* background = nullptr;
  double scale = 1.0;
  bool hasTransparency = false;

  bool ShouldAbort() const { return abortTester != nullptr && abortTester->ShouldAbort(); }
};

class Filter {
 public:
  virtual ~Filter() = default;

  virtual uint32_t ParameterBlockSize() const = 0;
  virtual bool PreviewStartsAtCorner() const { return false; }
  virtual bool BlendsWithSelection() const { return true; }
  virtual bool NeedsSelection() const { return false; }
  virtual bool NeedsSelectionOrLayer() const { return true; }
  virtual bool KeepsLayerTransparency() const { return true; }
  virtual bool SupportsCMYK() const { return true; }
  virtual bool RendersInOnePiece() const { return true; }
  virtual bool SupportsScripting() const { return true; }
  // 0 the area's top-left less 50 pixels, 1 centred, 2 centred horizontally.
  virtual int32_t PreviewPlacement() const { return PreviewStartsAtCorner() ? 0 : 1; }
  virtual Size MinimumSize() const { return {0, 0}; }
  virtual int32_t TileSize() const { return 500; }
  // Writes the effect number into the first int32 and every default value.
  virtual void SetDefaults(void* block) const = 0;
  virtual Rect InputAreaFor(const Rect& area, const void* block, double scale) const;
  virtual void TileInputArea(const Rect& tile, const Rect& area, const void* block, double scale,
                             Rect& neededInput, Rect& neededExtra) const;
  virtual void InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void* block,
                                double scale) const;
  [[nodiscard]] virtual int32_t PrepareRender(RenderContext& context);
  [[nodiscard]] virtual int32_t Render(RenderContext& context) = 0;
  virtual void FinishRender(void* block);
  [[nodiscard]] virtual int32_t BuildParameters(ParameterList& list, void* block) = 0;
  virtual std::string SettingsName() const = 0;
  virtual int32_t UpdateParameterStates(ParameterList& list, const void* block);
  virtual std::string HelpPage() const { return {}; }
  // The bytes a render of `tile` holds at its peak beyond the host's buffers,
  // so that a render the machine cannot hold is refused before it starts.
  virtual uint64_t RenderMemory(const Rect& tile, const RenderContext& context) const;

  int32_t filterId = -1;
};

// Brings every value of `block` into its parameter's range, lengths at the
// host's 16.16 `resolution`: whatever bytes a block holds (a stored action
// of another version, a damaged host), the effect then reads values it can
// render. 0, or the error of building the parameter list.
[[nodiscard]] int32_t ClampBlock(Filter& filter, void* block, ps::Fixed resolution);

// Grows an area so that the caller's clip to the image reads all of it.
inline Rect WholeImage(const Rect& area) { return area.Inflate(1000000, 1000000); }

// Base of the effects that must see the whole image at full resolution; the
// full-size result is cached for as long as the values it depends on stay.
class FilterEntireImageRequired : public Filter {
 public:
  void TileInputArea(const Rect& tile, const Rect& area, const void* block, double scale, Rect& neededInput,
                     Rect& neededExtra) const override;
  [[nodiscard]] int32_t PrepareRender(RenderContext& context) override;
  [[nodiscard]] int32_t Render(RenderContext& context) override;

  virtual std::unique_ptr<uint8_t[]> NewParameterCache() const = 0;
  virtual void StoreParameterCache(const void* block, void* cache) const = 0;
  virtual bool ParameterCacheMatches(const void* cache, const void* block) const = 0;
  [[nodiscard]] virtual int32_t PrepareEntireImage(RenderContext&) { return 0; }
  uint64_t RenderMemory(const Rect& tile, const RenderContext& context) const override;
  [[nodiscard]] virtual int32_t RenderEntireImage(RenderContext& context) = 0;

 protected:
  bool cacheValid = false;
  std::unique_ptr<uint8_t[]> parameterCache;
  std::unique_ptr<ByteImage> sourceImage;
  std::unique_ptr<ByteImage> resultImage;
};

// Block helpers: every parameter block starts with the effect number.
inline int32_t BlockEffectNumber(const void* block) {
  int32_t id;
  std::memcpy(&id, block, sizeof id);
  return id;
}

}  // namespace kv
