#include "hosts/common/filter_host.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "hosts/common/host_callbacks.h"
#include "hosts/common/memory_suites.h"
#include "image/pixel_ops.h"

namespace kv::host {

namespace {

bool Empty(const ps::Rect16& r) { return r.right <= r.left || r.bottom <= r.top; }

Rect FromHost(const ps::Rect16& r) { return {r.left, r.top, r.right, r.bottom}; }

ps::RGBColor16 Wide(Rgb c) { return {uint16_t(c.red * 257), uint16_t(c.green * 257), uint16_t(c.blue * 257)}; }

// Within what 16.16 holds, whatever the document says.
ps::Fixed ToFixed(double v) { return ps::Fixed(std::lround(std::clamp(v, 0.0, 32767.0) * 65536.0)); }

}  // namespace

FilterHost::FilterHost(Document& document, ps::EntryPointProc entry, int32_t effect)
    : document_(document), entry_(entry), effect_(effect) {
  if (document.width <= 0 || document.height <= 0 || document.width > 32767 || document.height > 32767)
    throw std::invalid_argument("the image must be 1 to 32767 pixels a side");
  platform_ = {this, &Callbacks::Message};
  about_ = {&platform_};
  properties_ = {1, 2, &Callbacks::GetProperty, &Callbacks::SetProperty};
  channelPorts_ = {1, 1, &Callbacks::ReadChannel};
  descriptors_ = {ps::kCurrentDescriptorParametersVersion, ps::plugInDialogDisplay, ps::plugInDialogOptional,
                  nullptr, &WriteSuite(), &ReadSuite()};
  SetUpRecord();
}

FilterHost::~FilterHost() {
  DisposeHandle(record_.parameters);
  DisposeHandle(descriptors_.descriptor);
}

ps::ChannelReadPort FilterHost::PortOf(int32_t plane) {
  return reinterpret_cast<ps::ChannelReadPort>(intptr_t(plane) + 1);
}

void FilterHost::SetSelection(std::vector<uint8_t> mask) {
  const int32_t w = document_.width, h = document_.height;
  if (mask.size() != size_t(w) * size_t(h)) throw std::invalid_argument("the selection is not the image's size");
  // The filter rectangle is the bounding box of what is selected.
  int32_t left = w, top = h, right = 0, bottom = 0;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = mask.data() + size_t(y) * size_t(w);
    const uint8_t* first = std::find_if(row, row + w, [](uint8_t v) { return v != 0; });
    if (first == row + w) continue;
    const uint8_t* last = row + w - 1;
    while (*last == 0) --last;
    left = std::min(left, int32_t(first - row));
    right = std::max(right, int32_t(last - row) + 1);
    top = std::min(top, y);
    bottom = y + 1;
  }
  if (right <= left) throw std::invalid_argument("the selection selects nothing");
  selection_ = std::move(mask);
  SetUpRecord();
  record_.filterRect = {int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
}

Rect FilterHost::WorkingArea() const {
  const ps::Rect16& f = record_.filterRect;
  if (!selection_.empty()) return {f.left, f.top, f.right, f.bottom};
  const Rect whole{0, 0, document_.width, document_.height};
  if (!document_.hasAlpha) return whole;
  const int32_t planes = document_.Planes();
  const Rect box = NonZeroBounds(document_.pixels.data() + planes - 1, {document_.width, document_.height},
                                 ptrdiff_t(document_.RowBytes()), planes);
  // A layer with nothing visible is refused by the core; until then it is the
  // whole image.
  return box.IsEmpty() ? whole : box;
}

void FilterHost::SetColors(Rgb foreground, Rgb background) {
  foreground_ = foreground;
  background_ = background;
  SetUpRecord();
}

void FilterHost::SetScript(const Descriptor& script) {
  DisposeHandle(descriptors_.descriptor);
  descriptors_.descriptor = DescriptorHandle(script);
  if (descriptors_.descriptor == nullptr) throw std::bad_alloc();
  scriptSerial_ = HandleSerial(descriptors_.descriptor);
  haveScript_ = true;
}

uint64_t FilterHost::MemoryNeeded() const {
  const uint64_t image = document_.pixels.size(), mask = uint64_t(document_.width) * uint64_t(document_.height);
  return 3 * image + mask;
}

int32_t FilterHost::ParametersEffect() const {
  const char* p = HandleData(record_.parameters);
  int32_t number = -1;
  if (p != nullptr && HandleSize(record_.parameters) >= sizeof number) std::memcpy(&number, p, sizeof number);
  return number;
}

std::vector<uint8_t> FilterHost::Parameters() const {
  const char* p = HandleData(record_.parameters);
  return p != nullptr ? std::vector<uint8_t>(p, p + HandleSize(record_.parameters)) : std::vector<uint8_t>{};
}

void FilterHost::SetParameters(std::span<const uint8_t> bytes) {
  ps::Handle h = NewHandle(bytes.size(), {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  if (h == nullptr) throw std::bad_alloc();
  DisposeHandle(record_.parameters);
  record_.parameters = h;
}

void FilterHost::SetUpRecord() {
  ps::FilterRecord& r = record_;
  const Document& d = document_;
  const bool selected = !selection_.empty();
  const int16_t colour = int16_t(d.ColorPlanes());

  r.abortProc = &Callbacks::Abort;
  r.progressProc = &Callbacks::Progress;
  r.imageSize = {int16_t(d.height), int16_t(d.width)};
  r.planes = int16_t(d.Planes());
  if (!selected) r.filterRect = {0, 0, int16_t(d.height), int16_t(d.width)};
  r.foreground = Wide(foreground_);
  r.background = Wide(background_);
  PixelBytes(d.mode, foreground_, r.foreColor);
  PixelBytes(d.mode, background_, r.backColor);
  r.maxSpace = r.bufferSpace = kBufferSpace;
  r.isFloating = false;
  r.haveMask = selected;
  r.autoMask = true;
  r.hostSig = ps::FourCC("Kalv");
  r.platformData = &platform_;
  r.bufferProcs = &BufferSuite();
  r.advanceState = &Callbacks::Advance;
  r.imageMode = HostImageMode(d.mode);
  r.imageHRes = ToFixed(d.xResolution);
  r.imageVRes = ToFixed(d.yResolution);
  r.inputRate = r.maskRate = ps::kFixedOne;
  r.filterCase = d.hasAlpha ? (selected ? ps::filterCaseEditableTransparencyWithSelection
                                        : ps::filterCaseEditableTransparencyNoSelection)
                            : (selected ? ps::filterCaseFlatImageWithSelection : ps::filterCaseFlatImageNoSelection);
  r.handleProcs = &HandleSuite();
  r.propertyProcs = &properties_;
  r.colorServices = &Callbacks::ColorServices;
  r.displayPixels = &Callbacks::DisplayPixels;
  r.channelPortProcs = &channelPorts_;
  r.descriptorParameters = &descriptors_;
  // A document with transparency is a layer; one without is a flat image.
  r.inLayerPlanes = r.outLayerPlanes = d.hasAlpha ? colour : 0;
  r.inTransparencyMask = r.outTransparencyMask = d.hasAlpha ? 1 : 0;
  r.inNonLayerPlanes = r.outNonLayerPlanes = d.hasAlpha ? 0 : colour;
  r.inLayerMasks = r.outLayerMasks = r.inInvertedLayerMasks = r.outInvertedLayerMasks = 0;
}

int16_t FilterHost::Call(int16_t selector) {
  selectors_.push_back(selector);
  FilterHost* previous = Callbacks::active;
  Callbacks::active = this;
  int16_t result = 0;
  if (selector == ps::filterSelectorAbout) entry_(selector, &about_, &data_, &result, effect_);
  else entry_(selector, &record_, &data_, &result, effect_);
  Callbacks::active = previous;
  return result;
}

int16_t FilterHost::About() { return Call(ps::filterSelectorAbout); }

bool FilterHost::RequestsPending() const {
  return !Empty(record_.inRect) || !Empty(record_.outRect) || !Empty(record_.maskRect);
}

int16_t FilterHost::Run(bool withDialog) {
  recorded_.reset();
  record_.inRect = record_.outRect = record_.maskRect = {};
  record_.inData = record_.outData = record_.maskData = nullptr;
  outPending_ = false;
  written_ = {};
  // Rows keep their first state only once a tile overwrites them; buffers
  // go when the run ends, so a large image is held once between runs.
  saved_.assign(size_t(document_.height), false);
  struct Forget {
    FilterHost& host;
    ~Forget() {
      host.original_.reset();
      host.saved_ = {};
      host.in_.buffer = {};
      host.out_.buffer = {};
    }
  } forget{*this};
  // The dialog shows when the user picked the effect, not when the last one
  // is repeated; a script step shows it only when asked to.
  descriptors_.playInfo = withDialog ? ps::plugInDialogDisplay : ps::plugInDialogDontDisplay;
  dialogShown_ = false;
  messagesShown_ = 0;
  descriptors_.recordInfo = ps::plugInDialogOptional;

  int16_t result = 0;
  if (withDialog && (result = Call(ps::filterSelectorParameters)) != 0) return result;
  if ((result = Call(ps::filterSelectorPrepare)) != 0) return result;
  // A failed start has finished the run itself.
  if ((result = Call(ps::filterSelectorStart)) != 0) return result;
  while (RequestsPending()) {
    if ((result = AdvanceState()) != 0 || (result = Call(ps::filterSelectorContinue)) != 0) break;
  }
  if (result == 0) CommitOutput(true);
  outPending_ = false;
  // Finish follows every successful start, whatever continue answered.
  const int16_t finished = Call(ps::filterSelectorFinish);
  CollectRecorded();
  haveScript_ = false;
  return result != 0 ? result : finished;
}

void FilterHost::CollectRecorded() {
  ps::Handle h = descriptors_.descriptor;
  if (h == nullptr || (haveScript_ && HandleSerial(h) == scriptSerial_)) return;
  try {
    recorded_ = HandleDescriptor(h);
  } catch (const std::runtime_error&) {
    recorded_.reset();
  }
}

void FilterHost::ShowMessage(int32_t kind, const char* caption, const char* text) {
  ++messagesShown_;
  if (hooks.message) {
    hooks.message(kind, caption, text);
    return;
  }
  std::fprintf(stderr, "kalvero: %s: %s\n", caption, text);
}

// --- advance state ---------------------------------------------------------

int16_t FilterHost::AdvanceState() {
  CommitOutput();
  ps::FilterRecord& r = record_;
  if (int16_t err = Deliver(r.inRect, r.inLoPlane, r.inHiPlane, r.inputRate, in_, r.inData, r.inRowBytes)) return err;
  if (int16_t err = Deliver(r.outRect, r.outLoPlane, r.outHiPlane, ps::kFixedOne, out_, r.outData, r.outRowBytes))
    return err;
  outPending_ = r.outData != nullptr;
  return DeliverMask();
}

// Planes lo..hi of `rect`, interleaved. Above a rate of 1.0 every n-th
// pixel of every n-th row (n the whole part of the rate), covering the
// rectangle in the reduced coordinates floor(left / n) .. ceil(right / n).
int16_t FilterHost::Deliver(const ps::Rect16& rect, int16_t lo, int16_t hi, int32_t rate, Transfer& t, void*& data,
                            int32_t& rowBytes) {
  data = nullptr;
  rowBytes = 0;
  t.rect = {};
  if (Empty(rect) || hi < lo) return ps::noErr;
  const Document& d = document_;
  // Areas outside the image are refused, as no padding was asked for.
  if (rect.left < 0 || rect.top < 0 || rect.right > d.width || rect.bottom > d.height || lo < 0 || hi >= d.Planes())
    return ps::generalFailure;
  const int32_t n = std::max(1, rate >> 16);
  const Rect reduced = ReducedRect(FromHost(rect), n);
  const int32_t left = reduced.left, top = reduced.top, width = reduced.Width(), height = reduced.Height();
  const int32_t count = hi - lo + 1, planes = d.Planes();
  const size_t rowBytesIn = d.RowBytes(), offset = size_t(left) * size_t(n) * size_t(planes) + size_t(lo);
  // Input comes from the image as the run found it: tiles already written
  // never feed later ones.
  const bool input = &t == &in_;
  const auto source = [&](int32_t y) {
    const int32_t row = (top + y) * n;
    return (input && Saved(row) ? original_.get() + size_t(row) * rowBytesIn : d.Row(row)) + offset;
  };
  t.rect = rect;
  t.lo = lo;
  t.hi = hi;
  const bool whole = n == 1 && count == planes;
  // Input of whole pixels that no tile has overwritten is read where it
  // lies: the core only reads it.
  bool untouched = input && whole;
  for (int32_t y = 0; y < height && untouched; ++y) untouched = !Saved(top + y);
  if (untouched) {
    data = const_cast<uint8_t*>(d.Row(top) + offset);
    rowBytes = int32_t(rowBytesIn);
    return ps::noErr;
  }
  if (input && whole) {
    // Effects that see the whole image ask for all of it with every tile:
    // the rows as the run found them are completed once and handed over
    // where they lie, not copied for each tile.
    for (int32_t y = 0; y < d.height; ++y)
      if (!Saved(y)) {
        std::memcpy(original_.get() + size_t(y) * rowBytesIn, d.Row(y), rowBytesIn);
        saved_[size_t(y)] = true;
      }
    data = original_.get() + size_t(top) * rowBytesIn + offset;
    rowBytes = int32_t(rowBytesIn);
    return ps::noErr;
  }
  const size_t run = size_t(width) * size_t(count);
  if (whole) {
    // Appended row by row: no zero fill before the copy.
    t.buffer.clear();
    t.buffer.reserve(run * size_t(height));
    for (int32_t y = 0; y < height; ++y) t.buffer.insert(t.buffer.end(), source(y), source(y) + run);
  } else {
    t.buffer.resize(run * size_t(height));
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* src = source(y);
      uint8_t* dst = t.buffer.data() + size_t(y) * run;
      for (int32_t x = 0; x < width; ++x, src += size_t(n) * size_t(planes), dst += count)
        std::memcpy(dst, src, size_t(count));
    }
  }
  data = t.buffer.data();
  rowBytes = int32_t(run);
  return ps::noErr;
}

int16_t FilterHost::DeliverMask() {
  ps::FilterRecord& r = record_;
  r.maskData = nullptr;
  r.maskRowBytes = 0;
  const ps::Rect16 m = r.maskRect;
  if (selection_.empty() || Empty(m)) return ps::noErr;
  if (m.left < 0 || m.top < 0 || m.right > document_.width || m.bottom > document_.height) return ps::generalFailure;
  const int32_t n = std::max(1, r.maskRate >> 16);
  const Rect reduced = ReducedRect(FromHost(m), n);
  const int32_t left = reduced.left, top = reduced.top, width = reduced.Width(), height = reduced.Height();
  mask_.buffer.resize(size_t(width) * size_t(height));
  const size_t stride = size_t(document_.width);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = selection_.data() + size_t((top + y) * n) * stride + size_t(left) * size_t(n);
    uint8_t* dst = mask_.buffer.data() + size_t(y) * size_t(width);
    for (int32_t x = 0; x < width; ++x) dst[x] = src[size_t(x) * size_t(n)];
  }
  r.maskData = mask_.buffer.data();
  r.maskRowBytes = width;
  return ps::noErr;
}

void FilterHost::CommitOutput(bool last) {
  if (!outPending_) return;
  outPending_ = false;
  const ps::Rect16 r = out_.rect;
  const Rect rect = FromHost(r);
  written_ = written_.IsEmpty() ? rect
                                : Rect{std::min(written_.left, rect.left), std::min(written_.top, rect.top),
                                       std::max(written_.right, rect.right), std::max(written_.bottom, rect.bottom)};
  const int32_t width = r.right - r.left, count = out_.hi - out_.lo + 1, planes = document_.Planes();
  if (last && count == planes && width == document_.width && r.top == 0 && r.bottom == document_.height) {
    document_.pixels.swap(out_.buffer);
    return;
  }
  const size_t rowBytes = document_.RowBytes();
  for (int32_t y = r.top; y < r.bottom && !last; ++y) {
    if (size_t(y) >= saved_.size() || saved_[size_t(y)]) continue;
    // Allocated untouched: only the rows saved are ever paged in.
    if (!original_) original_.reset(new uint8_t[rowBytes * size_t(document_.height)]);
    std::memcpy(original_.get() + size_t(y) * rowBytes, document_.Row(y), rowBytes);
    saved_[size_t(y)] = true;
  }
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const uint8_t* src = out_.buffer.data() + size_t(y - r.top) * size_t(width) * size_t(count);
    uint8_t* dst = document_.Row(y) + size_t(r.left) * size_t(planes) + size_t(out_.lo);
    if (count == planes) {
      std::memcpy(dst, src, size_t(width) * size_t(count));
      continue;
    }
    for (int32_t x = 0; x < width; ++x, src += count, dst += planes) std::memcpy(dst, src, size_t(count));
  }
}

std::string DescribeResult(int16_t result) {
  std::string what;
  switch (result) {
    case ps::memFullErr: what = "out of memory"; break;
    case ps::generalFailure: what = "the effects core stopped without saying why"; break;
    case ps::userCanceledErr: case ps::errHostCancelled: what = "cancelled"; break;
    case kErrWrongType: what = "a scripted value has the wrong type for this effect"; break;
    case ps::errPlugInHostInsufficient: what = "it needs a service this host does not offer"; break;
    default: what = "the effects core stopped with an error of its own"; break;
  }
  return what + " (" + std::to_string(result) + ")";
}

}  // namespace kv::host
