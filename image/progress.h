// Cancellation and progress, polled and fed by every long computation.
#pragma once

namespace kv {

class Abort_Tester {
 public:
  virtual ~Abort_Tester() = default;
  virtual bool ShouldAbort() = 0;
};

class ProgressUpdateSink {
 public:
  virtual ~ProgressUpdateSink() = default;
  // fraction: 0..1 of the current step.
  virtual void Update(double fraction) = 0;
};

// Maps 0..1 onto [from, to] of another sink, so nested steps share one bar.
class SubRangeProgress final : public ProgressUpdateSink {
 public:
  SubRangeProgress(ProgressUpdateSink* target, double from, double to) : target_(target), from_(from), to_(to) {}
  void Update(double fraction) override {
    if (target_ != nullptr) target_->Update(from_ + (to_ - from_) * fraction);
  }

 private:
  ProgressUpdateSink* target_;
  double from_, to_;
};

// Reports progress from..to of a sink that may be null.
inline void ReportProgress(ProgressUpdateSink* sink, double from, double to, double fraction) {
  if (sink != nullptr) sink->Update(from + (to - from) * fraction);
}

}  // namespace kv
