// Puzzle: the area cut into a grid of jigsaw pieces whose cuts are lit
// grooves with a knob on every inner edge; pieces the user knocked out are
// replaced by a colour, the untouched image or transparency.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "effects/puzzle/bezier_curves.h"
#include "framework/filter.h"
#include "parameters/parameter_values.h"
#include "image/random.h"

namespace kv {

constexpr int32_t kPuzzleEffect = 11;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct PuzzleSettings {
  int32_t filterId;
  PuzzleArrangement arrangement;
  double connectorLength;  // percent, 1..100
  double reserved;         // kept for the block's layout, never read
  double grooveWidth;      // percent, 1..100
  LayerFill knockoutFill;
  uint16_t connectorSeed;
  double grooveDarkness;       // percent, 10..100
  double lightDirection;       // degrees
  double highlightBrightness;  // percent
  double highlightSize;        // percent
};
static_assert(sizeof(PuzzleSettings) == 7792 && alignof(PuzzleSettings) == 8);
static_assert(offsetof(PuzzleSettings, arrangement) == 4 && offsetof(PuzzleSettings, connectorLength) == 7712 &&
              offsetof(PuzzleSettings, reserved) == 7720 && offsetof(PuzzleSettings, grooveWidth) == 7728 &&
              offsetof(PuzzleSettings, knockoutFill) == 7736 && offsetof(PuzzleSettings, connectorSeed) == 7752 &&
              offsetof(PuzzleSettings, grooveDarkness) == 7760 && offsetof(PuzzleSettings, lightDirection) == 7768 &&
              offsetof(PuzzleSettings, highlightBrightness) == 7776 &&
              offsetof(PuzzleSettings, highlightSize) == 7784);

// One cut between two pieces, and whether the piece on either side of it is
// knocked out (after: below or right of the cut).
struct PuzzleEdge {
  BezierConnectedCurveList curve;
  bool knockedAfter = false;
  bool knockedBefore = false;
};

class Puzzle : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(PuzzleSettings); }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  void InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void* block,
                        double scale) const override;
  int32_t Render(RenderContext& context) override;
  void FinishRender(void* block) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "Puzzle"; }
  std::string HelpPage() const override { return "Puzzle.html"; }

  // The knob of one inner edge, from (1, 0) to (0, 0), drawing four values
  // from `random`; mirrored across the edge when `flipped`.
  static BezierConnectedCurveList Connector(RandomNumberGenerator& random, double connectorLength, bool flipped);

 private:
  // The cuts of the grid over `area`, ready for queries within `reach`.
  void BuildEdges(const PuzzleSettings& settings, const Rect& area, double reach);
  template <int32_t N, bool Alpha>
  int32_t RenderAs(RenderContext& context);

  RandomNumberGenerator random;
  double cellWidth = 0.0, cellHeight = 0.0;
  std::vector<PuzzleEdge> horizontalEdges;  // columns x (rows + 1), row by row
  std::vector<PuzzleEdge> verticalEdges;    // (columns + 1) x rows, row by row
  // Per row of edges, the image rows their cuts may reach.
  std::vector<std::pair<double, double>> horizontalReach, verticalReach;
  // Per piece: it or a neighbour is knocked out, so its pixels ask which
  // side of a cut they are on.
  std::vector<uint8_t> nearKnockout;
};

}  // namespace kv
