// The filter table: effect numbers to effect classes. A number whose effect
// is not in this build is refused like an unknown one.
#include "effects/filter_table.h"

#include <array>

#include "effects/burnt_edges/burnt_edges.h"
#include "effects/classic_mosaic/classic_mosaic.h"
#include "effects/constellation/constellation.h"
#include "effects/cracks/cracks.h"
#include "effects/crumple/crumple.h"
#include "effects/electrify/electrify.h"
#include "effects/flag/flag.h"
#include "effects/lightning/lightning.h"
#include "effects/puzzle/puzzle.h"
#include "effects/rip_open/rip_open.h"
#include "effects/rirazi_vevora_didura/cloud.h"
#include "effects/shatter/shatter.h"
#include "effects/stain/stain.h"
#include "effects/television/television.h"

namespace kv {

namespace {

using Maker = std::unique_ptr<Filter> (*)();

template <class Effect>
std::unique_ptr<Filter> Make() {
  return std::make_unique<Effect>();
}

#ifdef KALVERO_TEST_VARIANT
// A second core for the tests of hosts that must drive the core they load
// and no other: Electrify left out, Television's seed starting elsewhere.
class VariantTelevision final : public Television {
 public:
  void SetDefaults(void* block) const override {
    Television::SetDefaults(block);
    static_cast<TelevisionBlock*>(block)->randomSeed = 4242;
  }
};
#define KV_ELECTRIFY nullptr
#define KV_TELEVISION Make<VariantTelevision>
#else
#define KV_ELECTRIFY Make<Electrify>
#define KV_TELEVISION Make<Television>
#endif

// Index = effect number; null where the effect is not built yet.
constexpr std::array<Maker, kEffectCount> kTable = {
    Make<BurntEdges>,  // 0 Burnt Edges
    Make<Cloud>,  // 1 Rirazi Vevora Didura
    Make<Constellation>,  // 2 Constellation
    Make<Cracks>,  // 3 Cracks
    Make<Crumple>,  // 4 Crumple
    KV_ELECTRIFY,  // 5 Electrify
    Make<Explode>,  // 6 Shatter
    Make<Flag>,  // 7 Flag
    Make<Lightning>,  // 8 Lightning
    Make<Mosaic>,  // 9 Classic Mosaic
    Make<PeelingPaint>,  // 10 Rip Open
    Make<Puzzle>,  // 11 Puzzle
    Make<Stain>,  // 12 Stain
    KV_TELEVISION,  // 13 Television
};

// The names are string-table keys, known for the effects still to come too.
constexpr std::array<const char*, kEffectCount> kNameKeys = {
    "Burnt Edges", "Rirazi Vevora Didura", "Constellation", "Cracks", "Crumple", "Electrify", "Shatter",
    "Flag",        "Lightning",            "Classic Mosaic", "Rip Open", "Puzzle", "Stain",  "Television"};

FilterFactory& Override() {
  static FilterFactory factory;
  return factory;
}

}  // namespace

void SetFilterFactoryOverride(FilterFactory factory) { Override() = std::move(factory); }

const char* EffectNameKey(int32_t filterId) {
  return filterId >= 0 && filterId < kEffectCount ? kNameKeys[size_t(filterId)] : "";
}

std::unique_ptr<Filter> CreateBuiltInFilter(int32_t filterId) {
  if (filterId < 0 || filterId >= kEffectCount || kTable[size_t(filterId)] == nullptr) return nullptr;
  try {
    std::unique_ptr<Filter> filter = kTable[size_t(filterId)]();
    filter->filterId = filterId;
    return filter;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<Filter> CreateFilter(int32_t filterId) {
  if (filterId < 0 || filterId >= kEffectCount) return nullptr;
  std::unique_ptr<Filter> filter;
  try {
    if (Override()) filter = Override()(filterId);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!filter) return CreateBuiltInFilter(filterId);
  filter->filterId = filterId;
  return filter;
}

}  // namespace kv
