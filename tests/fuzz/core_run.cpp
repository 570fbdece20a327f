#include "tests/fuzz/core_run.h"

#include <vector>

#include "entry/entry.h"
#include "tests/g3d/mesa_leaks.h"

namespace kv::fuzz {

void RunCore(host::Document& document, int32_t effect, bool selected,
             const std::function<void(host::FilterHost&)>& prepare) {
  host::FilterHost host(document, &kv::EntryPoint, effect);
  host.hooks.message = [](int32_t, const std::string&, const std::string&) {};
  if (selected) {
    const int32_t w = document.width, h = document.height;
    std::vector<uint8_t> mask(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const double dx = (x - w / 2.0) / (w * 0.4), dy = (y - h / 2.0) / (h * 0.4);
        mask[size_t(y) * size_t(w) + size_t(x)] = dx * dx + dy * dy < 1.0 ? 255 : 0;
      }
    host.SetSelection(std::move(mask));
  }
  // Renders beyond a small image's worth are refused, as kalvero refuses those
  // beyond the machine: the fuzzer searches the code, not the effects' speed.
  host.SetMemoryAllowance(32 << 20);
  prepare(host);
  (void)host.Run(false);
}

}  // namespace kv::fuzz
