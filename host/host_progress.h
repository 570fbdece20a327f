// The host's cancel test and progress bar behind the core's interfaces.
#pragma once

#include <cmath>
#include <cstdint>

#include "image/progress.h"
#include "platform/protocol.h"

namespace kv {

class Photoshop_Abort_Tester final : public Abort_Tester {
 public:
  explicit Photoshop_Abort_Tester(ps::TestAbortProc abortProc) : abortProc_(abortProc) {}
  bool ShouldAbort() override { return abortProc_ != nullptr && abortProc_() == 1; }

 private:
  ps::TestAbortProc abortProc_;
};

// One bar over all tiles: each tile is 1000 units.
class PhotoshopProgressUpdateSink final : public ProgressUpdateSink {
 public:
  PhotoshopProgressUpdateSink(ps::FilterRecord* host, int32_t tileCount)
      : host_(host), total_(int32_t(std::floor(tileCount * unitsPerTile_ + 0.5))) {}

  void SetTile(int32_t index) { tile_ = index; }
  int32_t Tile() const { return tile_; }
  int32_t Total() const { return total_; }

  void Update(double fraction) override {
    if (host_ == nullptr || host_->progressProc == nullptr) return;
    host_->progressProc(int32_t(std::floor((tile_ + fraction) * unitsPerTile_ + 0.5)), total_);
  }

 private:
  ps::FilterRecord* host_;
  int32_t tile_ = 0;
  double unitsPerTile_ = 1000.0;
  int32_t total_;
};

}  // namespace kv
