// The lines Classic Mosaic lays its rows along: the picture's strongest
// edges, closed across small gaps and thinned to lines one pixel wide.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "image/progress.h"

namespace kv {

struct EdgeLineSettings {
  double sensitivity = 50.0;  // 1..100: the share of selected pixels taken as edges, 0.26 % to 6 %
  double tileSize = 10.0;     // pixels: how wide a gap is closed and how far lines are thinned
};

// Fills `lines` over the selection's bounds A with 0 on an edge line and 255
// elsewhere. Only selected pixels (above 127) one pixel or more inside A are
// measured. `work` is scratch of the same size, handed back for reuse.
// Progress goes to 0.1, 0.2 and 0.3 after the three steps. err: 0, 1 stopped
// by the abort tester, -108.
int32_t TraceEdgeLines(const ByteImage& input, const ByteMask& selection, const EdgeLineSettings& settings,
                       ByteMask& lines, ByteMask& work, Abort_Tester* abort, ProgressUpdateSink* progress);

}  // namespace kv
