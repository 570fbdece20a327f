// Reference pictures: a small committed PNG per effect and setting, so that a
// change of look cannot pass unnoticed. A deliberate change rewrites them:
// run the tests with KV_UPDATE_REFERENCES=1 and commit the new files with it.
#pragma once

#include <string>

#include "tests/effects/effect_harness.h"

namespace kv::test {

// How far a render may stray from its reference: no sample by more than
// `maxLevel`, and at most `maxShare` of the samples by more than
// `shareLevel` (for effects whose floating point may round an edge pixel
// differently on another compiler or vector path).
struct Tolerance {
  int maxLevel = 0;
  double maxShare = 0.0;
  int shareLevel = 0;
};
inline constexpr Tolerance kExact{0, 0.0, 0};
inline constexpr Tolerance kWithinOneLevel{1, 0.0, 1};
inline constexpr Tolerance kEdgesMayRound{255, 0.002, 2};

// Compares `picture` (grey or RGB, with or without alpha) with
// tests/effects/data/reference/NAME.png. On a mismatch the render is written
// beside the test binary as NAME.actual.png for a look.
void ExpectMatchesReference(const std::string& name, const Picture& picture, Tolerance tolerance);

}  // namespace kv::test
