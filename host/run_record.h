// The record one run keeps in the host's data slot, from the first selector
// that finds the slot empty until finish.
#pragma once

#include <cstdint>
#include <memory>

#include "host/working_area.h"
#include "image/image.h"

namespace kv {

// Known here by name only: whoever ends a run knows the effect in full.
class Filter;

enum RunState : int32_t { kShowDialog = 0, kNoDialog = 1, kCreated = 2 };

struct RunRecord {
  int32_t state = kCreated;
  std::unique_ptr<WorkingArea> area;
  bool hasTransparency = false;
  std::unique_ptr<Filter> filter;
  int32_t filterId = 0;
  bool fromScript = false;
  bool dialogAccepted = false;
  std::unique_ptr<ByteImage> previewResult;  // handed over by the dialog on OK
  ByteMask previewSelection;  // the area's mask as previews hand it over, kept from one to the next
  int32_t hostVersionUnknown = 1;
  int32_t hostMajorVersion = 0;
  int32_t hostMinorVersion = 0;
  int32_t rulerUnits = 0;  // 0 pixels .. 5 picas
  char errorText[255] = {};
};

}  // namespace kv
