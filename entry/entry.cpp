#include "entry/entry.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "effects/filter_table.h"
#include "entry/dialog_hook.h"
#include "entry/scripting.h"
#include "framework/filter.h"
#include "framework/render_driver.h"
#include "framework/requirements.h"
#include "host/host_calls.h"
#include "host/pixel_layout.h"
#include "host/run_record.h"
#include "host/working_area.h"
#include "platform/product.h"
#include "platform/string_table.h"
#include "ui/kalvero_dialog_model.h"

namespace kv {

namespace {

DialogRunner& DialogRunnerSlot() {
  static DialogRunner runner = nullptr;
  return runner;
}

int16_t Narrow16(int32_t code) { return int16_t(code); }

void ShowErrorKey(const ps::FilterRecord* host, const char* key) { ShowHostError(host, strings::Text(key)); }

int32_t LoadStrings() {
  std::string error;
  return strings::Load(error);
}

// The parameters handle, locked for the length of one step. A host may
// size it to the block it last held, so nothing beyond its size is touched.
class LockedBlock {
 public:
  explicit LockedBlock(ps::FilterRecord& host) : host_(host) {
    if (host_.parameters == nullptr) return;
    const int32_t size = hostcall::HandleSize(host_.parameters);
    auto* bytes = reinterpret_cast<uint8_t*>(hostcall::LockHandle(host_.parameters));
    if (bytes != nullptr) block_ = {bytes, size_t(std::max(size, 0))};
  }
  ~LockedBlock() {
    if (block_.data() != nullptr) hostcall::UnlockHandle(host_.parameters);
  }
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;
  void* get() const { return block_.data(); }
  std::span<uint8_t> bytes() const { return block_; }

 private:
  ps::FilterRecord& host_;
  std::span<uint8_t> block_;
};

// Creates the host's parameters handle with the effect's defaults when the
// host has none, or one too small for the effect's block. -108 when it
// cannot be made.
int32_t EnsureParameters(ps::FilterRecord& host, const Filter& filter) {
  const size_t needed = std::max<size_t>(filter.ParameterBlockSize(), sizeof(int32_t));
  if (host.parameters != nullptr && size_t(std::max(hostcall::HandleSize(host.parameters), 0)) >= needed) return 0;
  if (host.parameters != nullptr) {
    hostcall::DisposeHandle(host.parameters);
    host.parameters = nullptr;
  }
  host.parameters = hostcall::NewHandle(int32_t(kParametersHandleSize));
  if (host.parameters == nullptr) return kErrOutOfMemory;
  LockedBlock block(host);
  if (block.get() == nullptr) return kErrOutOfMemory;
  std::memset(block.get(), 0, kParametersHandleSize);
  filter.SetDefaults(block.get());
  return 0;
}

// A block left by another effect is replaced by the defaults; one of this
// effect is brought into range, whatever bytes it holds.
int32_t PrepareBlock(Filter& filter, void* block, const ps::FilterRecord& host) {
  if (BlockEffectNumber(block) != filter.filterId) filter.SetDefaults(block);
  return ClampBlock(filter, block, host.imageHRes);
}

// The host's image as the core can hold it: a size, a filter rectangle
// inside it, and one to four colour planes with at most one transparency
// plane on each side.
bool UsableLayout(const ps::FilterRecord& host) {
  const Rect image = ImageBounds(host), filter = FromHost(host.filterRect);
  if (image.IsEmpty() || filter.IsEmpty() || !image.Contains(filter)) return false;
  const int32_t colour = ColorPlanes(host);
  const auto usable = [colour](int32_t planes) {
    return colour >= 1 && colour <= 4 && (planes == colour || planes == colour + 1);
  };
  return host.planes >= 1 && usable(InputPlanes(host)) && usable(OutputPlanes(host)) && host.inTransparencyMask >= 0 &&
         host.inTransparencyMask <= 1 && host.outTransparencyMask >= 0 && host.outTransparencyMask <= 1;
}

void EmptyRequests(ps::FilterRecord& host) {
  host.inRect = host.outRect = ps::Rect16{};
  host.maskRect = {host.filterRect.top, host.filterRect.left, host.filterRect.top, host.filterRect.left};
  host.maskRate = ps::kFixedOne;
}

void AskHostVersion(RunRecord& run) {
  run.hostVersionUnknown = 1;
  run.hostMajorVersion = run.hostMinorVersion = run.rulerUnits = 0;
  ps::FilterRecord* host = Session().record;
  if (host == nullptr || host->propertyProcs == nullptr) return;
  run.hostVersionUnknown = 0;
  intptr_t simple = 0;
  ps::Handle complex = nullptr;
  if (hostcall::GetProperty(ps::kPhotoshopSignature, ps::propVersion, 0, &simple, &complex) != 0) return;
  if (complex != nullptr) {
    if (hostcall::HandleSize(complex) >= 8) {
      const auto* p = reinterpret_cast<const uint8_t*>(hostcall::LockHandle(complex));
      if (p != nullptr) {
        const auto be = [](const uint8_t* b) { return int32_t(uint32_t(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3]); };
        run.hostMajorVersion = be(p);
        run.hostMinorVersion = be(p + 4);
        hostcall::UnlockHandle(complex);
      }
    }
    hostcall::DisposeHandle(complex);
  } else {
    run.hostMajorVersion = int32_t((simple >> 16) & 0xFF);
    run.hostMinorVersion = int32_t((simple >> 8) & 0xFF);
  }
  intptr_t units = 0;
  if (hostcall::GetProperty(ps::kPhotoshopSignature, ps::propRulerUnits, 0, &units, nullptr) != 0) units = 0;
  if (run.hostMajorVersion < 7) {
    static constexpr int32_t kOld[] = {0, 1, 2, 4, 5};
    units = units >= 0 && units < 5 ? kOld[units] : 0;
  }
  run.rulerUnits = units >= 0 && units <= 5 ? int32_t(units) : 0;
}

void SetWatchCursor(bool suspended) {
  hostcall::SetProperty(ps::kPhotoshopSignature, ps::propWatchSuspension, 0, suspended ? 1 : 0, nullptr);
}

void Finish(ps::FilterRecord& host, RunRecord* run, intptr_t* data) {
  if (run != nullptr) {
    LockedBlock block(host);
    Filter& filter = *run->filter;
    // A descriptor that cannot be written leaves the host's action without
    // values; finish itself still succeeds.
    if (filter.SupportsScripting() && filter.filterId == run->filterId && run->dialogAccepted) {
      if (block.get() != nullptr && BlockEffectNumber(block.get()) == run->filterId) {
        (void)WriteScriptingDescriptor(host, filter, block.get());
      } else if (auto fresh = CreateFilter(run->filterId)) {
        // The handle holds another effect's block: record our defaults instead.
        std::unique_ptr<uint8_t[]> defaults(new (std::nothrow) uint8_t[kParametersHandleSize]());
        if (defaults) {
          fresh->SetDefaults(defaults.get());
          (void)WriteScriptingDescriptor(host, *fresh, defaults.get());
        }
      }
    }
    delete run;
  }
  *data = 0;
  Session().run = nullptr;
  strings::Clear();
  EmptyRequests(host);
}

int32_t Start(ps::FilterRecord& host, RunRecord& run) {
  if (host.handleProcs == nullptr || host.abortProc == nullptr || host.progressProc == nullptr ||
      host.bufferProcs == nullptr || host.displayPixels == nullptr || host.advanceState == nullptr ||
      host.colorServices == nullptr) {
    ShowErrorKey(&host, "Error - Host Too Weak");
    return 1;
  }
  if (!UsableLayout(host)) {
    ShowErrorKey(&host, "Error - Unsupported Image");
    return 1;
  }
  if (int32_t err = ComputeWorkingArea(host, run)) {
    if (err != -1) return err;
    ShowErrorKey(&host, "Error - Empty Layer");
    return 1;
  }
  Filter& filter = *run.filter;
  if (int32_t err = EnsureParameters(host, filter)) return err;
  {
    LockedBlock block(host);
    if (block.get() == nullptr) return kErrOutOfMemory;
    if (int32_t err = PrepareBlock(filter, block.get(), host)) return err;
    if (filter.SupportsScripting()) {
      const int32_t err = ReadScriptingDescriptor(host, run, block.get());
      if (err != 0 && err != -1) return err;
    }
  }
  host.autoMask = false;
  if (!CheckRequirements(filter, host, &run, false)) return 1;
  AskHostVersion(run);

  int32_t result = 0;
  if (run.state == kShowDialog) {
    if (DialogRunner runner = DialogRunnerSlot()) {
      SetWatchCursor(true);
      {
        LockedBlock block(host);
        result = block.get() == nullptr ? kErrOutOfMemory : PrepareBlock(filter, block.get(), host);
        if (result == 0) result = runner(host, run, block.bytes());
      }
      run.dialogAccepted = result == 0;
      SetWatchCursor(false);
      if (result != ps::errHostCancelled && result != kErrOutOfMemory && result != -1 && result != 0 && result != 1)
        result = -1;
    }
  }
  // Asking for a first area makes the host call continue.
  host.inLoPlane = host.inHiPlane = 0;
  host.inRect = {0, 0, 1, 1};
  host.inputRate = ps::kFixedOne;
  return result;
}

int32_t Continue(ps::FilterRecord& host, RunRecord& run) {
  int32_t err;
  {
    LockedBlock block(host);
    // The host may have changed the record since start.
    if (block.get() == nullptr || !UsableLayout(host)) {
      err = kErrGeneral;
    } else if ((err = PrepareBlock(*run.filter, block.get(), host)) == 0) {
      err = RenderArea(host, run, block.get());
    }
  }
  if (err == -1 && run.errorText[0] != '\0') {
    run.errorText[sizeof run.errorText - 1] = '\0';
    ShowHostError(&host, run.errorText);
    err = 1;
  }
  EmptyRequests(host);
  return err;
}

int32_t AreaQuery(ps::FilterRecord& host, RunRecord& run) {
  Filter& filter = *run.filter;
  if (int32_t err = EnsureParameters(host, filter)) return err;
  LockedBlock block(host);
  if (block.get() == nullptr) return kErrOutOfMemory;
  if (!UsableLayout(host)) return kErrGeneral;
  if (int32_t err = PrepareBlock(filter, block.get(), host)) return err;
  if (filter.SupportsScripting()) {
    const int32_t err = ReadScriptingDescriptor(host, run, block.get());
    if (err != 0 && err != -1) return err;
  }
  // "All of it" comes back as the area grown by a million pixels, which no
  // 16-bit field holds: the host learns the part of its image that is meant.
  host.outRect = ToHost(filter.InputAreaFor(FromHost(host.inRect), block.get(), 1.0).Intersect(ImageBounds(host)));
  return 0;
}

void About(void* record, int32_t filterId) {
  if (filterId != 0) return;
  LoadStrings();
  const auto* about = static_cast<const ps::AboutRecord*>(record);
  std::string text;
  for (const std::string& line : AboutLines()) text += (text.empty() ? "" : "\n") + line;
  platform::ShowMessage(about != nullptr ? about->platformData : nullptr, ps::messageInfo, kProductName, text);
  strings::Clear();
}

int32_t Dispatch(int16_t selector, ps::FilterRecord& host, RunRecord& run, intptr_t* data) {
  switch (selector) {
    case ps::filterSelectorParameters:
      if (run.state == kCreated) run.state = kShowDialog;
      return 0;
    case ps::filterSelectorPrepare:
      return 0;
    case ps::filterSelectorStart: {
      const int32_t result = Start(host, run);
      if (result != 0) Finish(host, &run, data);
      return result;
    }
    case ps::filterSelectorContinue:
      return Continue(host, run);
    case ps::filterSelectorFinish:
      Finish(host, &run, data);
      return 0;
    case ps::filterSelectorAreaQuery:
      return AreaQuery(host, run);
    default:
      return 0;
  }
}

}  // namespace

void SetDialogRunner(DialogRunner runner) { DialogRunnerSlot() = runner; }
DialogRunner CurrentDialogRunner() { return DialogRunnerSlot(); }

void EntryPoint(int16_t selector, void* record, intptr_t* data, int16_t* result, int32_t filterId) {
  if (result == nullptr) return;
  if (selector == ps::filterSelectorAbout) {
    About(record, filterId);
    *result = 0;
    return;
  }
  if (record == nullptr || data == nullptr) {
    *result = -1;
    return;
  }
  auto& host = *static_cast<ps::FilterRecord*>(record);
  HostSession& session = Session();
  std::lock_guard lock(platform::ProcessLock());
  session.record = &host;
  session.hostThread = platform::CurrentThread();
  session.haveBuffers = host.bufferProcs != nullptr;
  if (session.haveBuffers) session.buffers = *host.bufferProcs;

  int16_t code = 0;
  try {
    auto* run = reinterpret_cast<RunRecord*>(*data);
    if (run == nullptr) {
      std::unique_ptr<Filter> filter = CreateFilter(filterId);
      if (!filter) {
        code = -1;
      } else if (LoadStrings() != 0) {
        // A host whose call fails sends no finish: a record kept now would
        // outlive the run, so there is none until the texts load.
        strings::Clear();
        code = -1;
      } else {
        run = new RunRecord{};
        run->filter = std::move(filter);
        run->filterId = filterId;
        *data = reinterpret_cast<intptr_t>(run);
      }
    }
    if (run != nullptr) {
      session.run = run;
      code = Narrow16(Dispatch(selector, host, *run, data));
    }
  } catch (const std::bad_alloc&) {
    code = ps::memFullErr;
  } catch (...) {
    code = -1;
  }
  *result = code;
  // Between selectors the record may be gone: nothing may reach it.
  session.record = nullptr;
  session.haveBuffers = false;
  session.buffers = {};
}

}  // namespace kv
