// A progress bar on the terminal: one line on stderr, redrawn in place.
#pragma once

#include <cstdint>
#include <string>

namespace kv::cli {

class ProgressBar {
 public:
  // Draws only when `enabled` (stderr is a terminal and not --quiet).
  ProgressBar(std::string label, bool enabled);
  ~ProgressBar();  // ends the line if one was drawn

  void Update(int32_t done, int32_t total);

  // "label [#####     ]  50%" for a bar `width` characters wide.
  static std::string Line(const std::string& label, int32_t done, int32_t total, int width);

 private:
  std::string label_;
  bool enabled_;
  bool drawn_ = false;
  int lastPercent_ = -1;
};

}  // namespace kv::cli
