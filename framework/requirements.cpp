#include "framework/requirements.h"

#include <algorithm>
#include <string>

#include "framework/filter.h"
#include "host/host_calls.h"
#include "host/pixel_layout.h"
#include "host/working_area.h"
#include "platform/format.h"
#include "platform/string_table.h"

namespace kv {

bool CheckRequirements(Filter& filter, ps::FilterRecord& host, const RunRecord* run, bool quiet) {
  const auto fail = [&](const std::string& text) {
    if (!quiet) ShowHostError(&host, text);
    return false;
  };
  if (host.imageMode == ps::plugInModeCMYKColor && !filter.SupportsCMYK()) return false;
  const Rect area = AreaRect(host, run);
  const Size minimum = filter.MinimumSize();
  if (area.Width() < minimum.width || area.Height() < minimum.height)
    return fail(FormatInts(strings::Text("Error - Selection Too Small"), {minimum.width, minimum.height}));
  const int16_t c = host.filterCase;
  const bool selection = c == ps::filterCaseFlatImageWithSelection ||
                         c == ps::filterCaseEditableTransparencyWithSelection ||
                         c == ps::filterCaseProtectedTransparencyWithSelection;
  const bool layer =
      c == ps::filterCaseEditableTransparencyNoSelection || c == ps::filterCaseProtectedTransparencyNoSelection;
  if (filter.NeedsSelection() && !selection) return fail(strings::Text("Error - Needs Selection"));
  if (filter.NeedsSelectionOrLayer()) {
    if (!selection && !layer) return fail(strings::Text("Error - Needs Selection or Layer"));
    ByteMask mask;
    if (ReadAreaMask(host, run, area, mask) != 0) return false;
    bool allInside = area == ImageBounds(host);
    for (int32_t y = area.top; allInside && y < area.bottom; ++y) {
      const uint8_t* row = mask.Row(y);
      allInside = std::all_of(row, row + area.Width(), [](uint8_t v) { return v == 255; });
    }
    if (allInside) return fail(strings::Text("Error - Needs Interesting Selection or Layer"));
  }
  if (c == ps::filterCaseProtectedTransparencyNoSelection || c == ps::filterCaseProtectedTransparencyWithSelection ||
      (host.inTransparencyMask == 1) != (host.outTransparencyMask == 1))
    return fail(strings::Text("Error - Needs Editable Transparency"));
  if (host.isFloating || c == ps::filterCaseFloatingSelection) return fail(strings::Text("Error - Floating Selection"));
  return true;
}

}  // namespace kv
