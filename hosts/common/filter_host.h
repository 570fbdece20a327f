// The host: one document, its filter record and the suites behind it,
// driven through a core's entry point in the order an image editor sends
// the selectors. The entry point is a plain function pointer, so tests can
// hand in a core linked into them and kalvero the one it loaded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hosts/common/colour.h"
#include "hosts/common/descriptor.h"
#include "hosts/common/document.h"
#include "image/geometry.h"
#include "platform/protocol.h"

namespace kv::host {

class FilterHost {
 public:
  struct Hooks {
    std::function<bool()> shouldAbort;                       // the abort procedure's answer
    std::function<void(int32_t done, int32_t total)> progress;
    // Message boxes; without a hook "kalvero: CAPTION: TEXT" goes to stderr.
    std::function<void(int32_t kind, const std::string& caption, const std::string& text)> message;
  };

  // The host writes the effect's result into `document`.
  FilterHost(Document& document, ps::EntryPointProc entry, int32_t effect);
  ~FilterHost();
  FilterHost(const FilterHost&) = delete;
  FilterHost& operator=(const FilterHost&) = delete;

  // width x height bytes, 0 outside, 255 inside. Throws std::invalid_argument
  // when the size differs from the document's or nothing is selected.
  void SetSelection(std::vector<uint8_t> mask);
  // The area the core works on, as it finds it at start: the bounds of the
  // selection, else of the layer's visible pixels, else the whole image.
  Rect WorkingArea() const;
  void SetColors(Rgb foreground, Rgb background);
  // Asks the core to render in tiles of `size` pixels, so that tiled and
  // whole renders can be compared; 0 leaves the tiles to the effect.
  void SetTileSize(int32_t size) { tileSize_ = size; }
  // The values the core reads at start, as from a recorded action.
  void SetScript(const Descriptor& script);
  // The number of the effect whose block the parameters handle holds after
  // a run (the dialog may switch effects); -1 when there is none. The
  // handle is the core's to fill: the host only keeps it between runs.
  int32_t ParametersEffect() const;
  // The handle's bytes after a run, and the same bytes handed back before
  // another, as an editor keeps them for its repeat command.
  std::vector<uint8_t> Parameters() const;
  void SetParameters(std::span<const uint8_t> bytes);
  // The unit the user measures in, as the ruler property numbers it
  // (0 pixels, 1 inches, 2 centimetres, 3 millimetres, 4 points, 5 picas).
  void SetRulerUnits(int32_t units) { rulerUnits_ = units; }

  // One application: with the dialog parameters, prepare, start, continue
  // while the core asks for areas, finish; without it the same from prepare,
  // as when the last filter is repeated. With the dialog a script's values
  // are shown in it. 0, or the first failing selector's result.
  int16_t Run(bool withDialog);
  int16_t About();
  // A single selector, as Run sends it.
  int16_t Call(int16_t selector);

  // The bounds of what the core wrote in the last run: effects may write
  // beyond the selection, to fill what lies outside an edge.
  Rect Written() const { return written_; }

  // What a run holds beyond the document and the selection (the image as
  // the run found it, the areas handed out), and the memory the core may
  // use besides, which it is told.
  uint64_t MemoryNeeded() const;
  void SetMemoryAllowance(uint64_t bytes) { record_.maxSpace64 = int64_t(std::min<uint64_t>(bytes, INT64_MAX)); }

  // The descriptor the core wrote at finish of the last run, if it wrote one.
  const std::optional<Descriptor>& Recorded() const { return recorded_; }

  Hooks hooks;

  // For tests: the record as the core sees it, what was sent and shown.
  ps::FilterRecord& Record() { return record_; }
  const std::vector<int16_t>& SelectorsSent() const { return selectors_; }
  int32_t DisplayCalls() const { return displayCalls_; }
  bool WatchSuspended() const { return watchSuspended_; }
  // Whether the last run showed the dialog (the core suspends the watch
  // cursor for it), and how many messages it showed.
  bool DialogShown() const { return dialogShown_; }
  int32_t MessagesShown() const { return messagesShown_; }
  // The channel port that reads document plane `plane`.
  static ps::ChannelReadPort PortOf(int32_t plane);
  // What the advance-state procedure does: hands out the requested areas,
  // after putting the last output area back into the document.
  int16_t AdvanceState();
  // Puts the pending output area into the document; after the `last` one
  // no input is read again.
  void CommitOutput(bool last = false);

 private:
  struct Callbacks;
  friend struct Callbacks;
  struct Transfer {
    std::vector<uint8_t> buffer;
    ps::Rect16 rect{};
    int16_t lo = 0, hi = -1;
  };

  void SetUpRecord();
  bool RequestsPending() const;
  int16_t Deliver(const ps::Rect16& rect, int16_t lo, int16_t hi, int32_t rate, Transfer& t, void*& data,
                  int32_t& rowBytes);
  int16_t DeliverMask();
  bool Saved(int32_t row) const { return size_t(row) < saved_.size() && saved_[size_t(row)]; }
  void CollectRecorded();
  void ShowMessage(int32_t kind, const char* caption, const char* text);

  Document& document_;
  ps::EntryPointProc entry_;
  int32_t effect_;
  intptr_t data_ = 0;
  ps::FilterRecord record_{};
  ps::PlatformData platform_{};
  ps::AboutRecord about_{};
  ps::PropertyProcs properties_{};
  ps::ChannelPortProcs channelPorts_{};
  ps::PIDescriptorParameters descriptors_{};
  std::vector<uint8_t> selection_;
  // The rows of the image as the run found them, for those a tile has
  // overwritten since.
  std::unique_ptr<uint8_t[]> original_;
  std::vector<bool> saved_;
  Rgb foreground_{0, 0, 0}, background_{255, 255, 255};
  int32_t tileSize_ = 0;
  int32_t rulerUnits_ = 0;
  bool haveScript_ = false;
  uint64_t scriptSerial_ = 0;
  Transfer in_, out_, mask_;
  bool outPending_ = false;
  Rect written_{};
  std::optional<Descriptor> recorded_;
  std::vector<int16_t> selectors_;
  int32_t displayCalls_ = 0;
  bool watchSuspended_ = false;
  bool dialogShown_ = false;
  int32_t messagesShown_ = 0;
};

// "out of memory (-108)" and the like, for a result the core returned.
std::string DescribeResult(int16_t result);

}  // namespace kv::host
