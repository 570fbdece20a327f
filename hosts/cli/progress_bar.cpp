#include "hosts/cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace kv::cli {

ProgressBar::ProgressBar(std::string label, bool enabled) : label_(std::move(label)), enabled_(enabled) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::fputc('\n', stderr);
}

std::string ProgressBar::Line(const std::string& label, int32_t done, int32_t total, int width) {
  const double f = total > 0 ? std::clamp(double(done) / total, 0.0, 1.0) : 0.0;
  const int filled = int(f * width + 0.5);
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", int(f * 100.0));
  return label + " [" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), ' ') + "] " + percent;
}

void ProgressBar::Update(int32_t done, int32_t total) {
  if (!enabled_ || total <= 0) return;
  const int percent = int(std::clamp(double(done) / total, 0.0, 1.0) * 100.0);
  // Redraw only when the figure changes; effects report far more often.
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  std::fprintf(stderr, "\r%s", Line(label_, done, total, 30).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace kv::cli
