#include "tests/support/fake_host.h"

#include <algorithm>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif


namespace kv::test {

namespace {

// A handle's bytes are followed by guard bytes, so that a core writing past
// a handle's size is caught; under AddressSanitizer reading there is too.
constexpr size_t kGuard = 64;
constexpr char kGuardByte = char(0xA5);

struct Block {
  std::vector<char> bytes;  // the handle's size, then the guard
  Descriptor descriptor;    // when the block stands for a descriptor

  ~Block() { Guard(false); }
  void Resize(size_t size) {
    Guard(false);
    bytes.assign(size + kGuard, kGuardByte);
    std::fill_n(bytes.begin(), size, char(0));
    Guard(true);
  }
  size_t Size() const { return bytes.size() < kGuard ? 0 : bytes.size() - kGuard; }
  bool Intact() {
    Guard(false);
    const bool intact = std::all_of(bytes.begin() + ptrdiff_t(Size()), bytes.end(), [](char c) { return c == kGuardByte; });
    Guard(true);
    return intact;
  }
  void Guard([[maybe_unused]] bool on) {
#if defined(__SANITIZE_ADDRESS__)
    if (bytes.size() < kGuard) return;
    if (on) ASAN_POISON_MEMORY_REGION(bytes.data() + Size(), kGuard);
    else ASAN_UNPOISON_MEMORY_REGION(bytes.data() + Size(), kGuard);
#endif
  }
};
Block* B(ps::Handle h) { return reinterpret_cast<Block*>(h); }
ps::Handle H(Block* b) { return reinterpret_cast<ps::Handle>(b); }

struct ReadToken {
  Descriptor values;
  size_t next = 0;
  const DescriptorValue* current = nullptr;
};
struct WriteToken {
  Descriptor values;
};
ReadToken* R(ps::PIReadDescriptor t) { return reinterpret_cast<ReadToken*>(t); }

constexpr ps::OSErr kWrongType = -1700;
bool IsNumber(ps::PIReadDescriptor t) {
  const ps::DescType type = R(t)->current->type;
  return type == ps::typeFloat || type == ps::typeInteger || type == ps::FourCC("UntF");
}
WriteToken* W(ps::PIWriteDescriptor t) { return reinterpret_cast<WriteToken*>(t); }

ps::Handle TextHandle(const std::string& text) {
  auto* b = new Block;
  b->Resize(text.size() + 1);
  std::copy(text.begin(), text.end(), b->bytes.begin());
  return H(b);
}

void Put(ps::PIWriteDescriptor t, uint32_t key, DescriptorValue v) { W(t)->values.emplace_back(key, std::move(v)); }

}  // namespace

FakeHost* FakeHost::current = nullptr;

struct FakeHostCallbacks {
  static FakeHost& F() { return *FakeHost::current; }
  static ps::OSErr Advance() { return F().Advance(); }
  static ps::Boolean Abort() {
    FakeHost& f = F();
    ++f.abortPolls;
    return f.abortAfterPolls >= 0 && f.abortPolls > f.abortAfterPolls ? 1 : 0;
  }
  static void Progress(int32_t done, int32_t total) { F().progress.emplace_back(done, total); }
  static void Message(void*, int32_t, const char*, const char* text) { F().messages.emplace_back(text); }
  static ps::OSErr ColorServices(ps::ColorServicesInfo*) { return 0; }
  static ps::OSErr Display(const ps::PSPixelMap*, const ps::VRect*, int32_t, int32_t, void*) { return 0; }
};

FakeHost::FakeHost(int w, int h, int16_t imageMode, int colorPlanes, bool transparency, std::vector<uint8_t> image)
    : pixels(std::move(image)), width(w), height(h), planes(colorPlanes + transparency) {
  pixels.resize(size_t(w) * h * size_t(planes));
  current = this;
  handleProcs = {1, 6, [](int32_t size) { auto* b = new Block; b->Resize(size_t(size)); return H(b); },
                 [](ps::Handle h) { delete B(h); },
                 [](ps::Handle h) { return int32_t(B(h)->Size()); },
                 [](ps::Handle h, int32_t size) -> ps::OSErr {
                   std::vector<char> kept(B(h)->bytes.begin(), B(h)->bytes.begin() + std::min<size_t>(B(h)->Size(), size_t(size)));
                   B(h)->Resize(size_t(size));
                   std::copy(kept.begin(), kept.end(), B(h)->bytes.begin());
                   return 0;
                 },
                 [](ps::Handle h, ps::Boolean) { return B(h)->bytes.data(); }, [](ps::Handle) {}};
  bufferProcs = {1, 5, [](int32_t, ps::BufferID*) -> ps::OSErr { return -1; },
                 [](ps::BufferID, ps::Boolean) -> ps::Ptr { return nullptr; }, [](ps::BufferID) {},
                 [](ps::BufferID) {}, []() -> int32_t { return 1 << 30; }};
  propertyProcs = {1, 2,
                   [](uint32_t, uint32_t key, int32_t, intptr_t* simple, ps::Handle* complex) -> ps::OSErr {
                     if (key == ps::propVersion) {
                       if (complex != nullptr) *complex = nullptr;
                       *simple = (12 << 16) | (1 << 8);
                       return 0;
                     }
                     if (key == ps::propRulerUnits) {
                       *simple = 2;
                       return 0;
                     }
                     if (key == ps::propTileSize && current->tileSize > 0) {
                       *simple = current->tileSize;
                       return 0;
                     }
                     return -1;
                   },
                   [](uint32_t, uint32_t, int32_t, intptr_t, ps::Handle) -> ps::OSErr { return 0; }};

  readProcs.readDescriptorProcsVersion = 0;
  readProcs.numReadDescriptorProcs = 18;
  readProcs.openReadDescriptorProc = [](ps::PIDescriptorHandle d, ps::DescriptorKeyIDArray) -> ps::PIReadDescriptor {
    if (d == nullptr) return nullptr;
    auto* t = new ReadToken;
    t->values = B(d)->descriptor;
    return reinterpret_cast<ps::PIReadDescriptor>(t);
  };
  readProcs.closeReadDescriptorProc = [](ps::PIReadDescriptor t) -> ps::OSErr { delete R(t); return 0; };
  readProcs.getKeyProc = [](ps::PIReadDescriptor t, ps::DescriptorKeyID* key, ps::DescType* type,
                            int32_t*) -> ps::Boolean {
    ReadToken& r = *R(t);
    if (r.next >= r.values.size()) return false;
    *key = r.values[r.next].first;
    *type = r.values[r.next].second.type;
    r.current = &r.values[r.next++].second;
    return true;
  };
  // As a host's scripting coerces: numbers read as numbers, the rest only
  // as their own type.
  readProcs.getIntegerProc = [](ps::PIReadDescriptor t, int32_t* v) -> ps::OSErr {
    if (!IsNumber(t)) return kWrongType;
    *v = int32_t(R(t)->current->number);
    return 0;
  };
  readProcs.getFloatProc = [](ps::PIReadDescriptor t, double* v) -> ps::OSErr {
    if (!IsNumber(t)) return kWrongType;
    *v = R(t)->current->number;
    return 0;
  };
  readProcs.getUnitFloatProc = [](ps::PIReadDescriptor t, ps::DescriptorUnitID*, double* v) -> ps::OSErr {
    if (!IsNumber(t)) return kWrongType;
    *v = R(t)->current->number;
    return 0;
  };
  readProcs.getBooleanProc = [](ps::PIReadDescriptor t, ps::Boolean* v) -> ps::OSErr {
    if (R(t)->current->type != ps::typeBoolean) return kWrongType;
    *v = R(t)->current->number != 0;
    return 0;
  };
  readProcs.getTextProc = [](ps::PIReadDescriptor t, ps::Handle* v) -> ps::OSErr {
    if (R(t)->current->type != ps::typeText) return kWrongType;
    *v = TextHandle(R(t)->current->text);
    return 0;
  };
  readProcs.getAliasProc = [](ps::PIReadDescriptor, ps::Handle*) -> ps::OSErr { return -1; };
  readProcs.getEnumeratedProc = [](ps::PIReadDescriptor t, ps::DescriptorEnumID* v) -> ps::OSErr {
    if (R(t)->current->type != ps::typeEnumerated) return kWrongType;
    *v = uint32_t(R(t)->current->number);
    return 0;
  };
  readProcs.getClassProc = [](ps::PIReadDescriptor, ps::DescriptorClassID*) -> ps::OSErr { return -1; };
  readProcs.getSimpleReferenceProc = [](ps::PIReadDescriptor, void*) -> ps::OSErr { return -1; };
  readProcs.getObjectProc = [](ps::PIReadDescriptor, ps::DescriptorClassID*, ps::PIDescriptorHandle*) -> ps::OSErr { return -1; };
  readProcs.getCountProc = [](ps::PIReadDescriptor, uint32_t*) -> ps::OSErr { return -1; };
  readProcs.getStringProc = [](ps::PIReadDescriptor, unsigned char (*)[256]) -> ps::OSErr { return -1; };
  readProcs.getPinnedIntegerProc = [](ps::PIReadDescriptor t, int32_t lo, int32_t hi, int32_t* v) -> ps::OSErr {
    if (!IsNumber(t)) return kWrongType;
    *v = std::clamp(int32_t(R(t)->current->number), lo, hi);
    return 0;
  };
  readProcs.getPinnedFloatProc = [](ps::PIReadDescriptor t, const double* lo, const double* hi, double* v) -> ps::OSErr {
    if (!IsNumber(t)) return kWrongType;
    const double raw = R(t)->current->number;
    *v = std::clamp(raw, *lo, *hi);
    return *v == raw ? 0 : ps::coercedParamErr;
  };
  readProcs.getPinnedUnitFloatProc = [](ps::PIReadDescriptor t, const double* lo, const double* hi,
                                        ps::DescriptorUnitID*, double* v) -> ps::OSErr {
    if (!IsNumber(t)) return kWrongType;
    *v = std::clamp(R(t)->current->number, *lo, *hi);
    return 0;
  };

  writeProcs.writeDescriptorProcsVersion = 0;
  writeProcs.numWriteDescriptorProcs = 16;
  writeProcs.openWriteDescriptorProc = []() { return reinterpret_cast<ps::PIWriteDescriptor>(new WriteToken); };
  writeProcs.closeWriteDescriptorProc = [](ps::PIWriteDescriptor t, ps::PIDescriptorHandle* d) -> ps::OSErr {
    auto* b = new Block;
    b->descriptor = std::move(W(t)->values);
    delete W(t);
    *d = H(b);
    return 0;
  };
  writeProcs.putIntegerProc = [](ps::PIWriteDescriptor t, uint32_t k, int32_t v) -> ps::OSErr { Put(t, k, {ps::typeInteger, double(v), {}, 0}); return 0; };
  writeProcs.putFloatProc = [](ps::PIWriteDescriptor t, uint32_t k, const double* v) -> ps::OSErr { Put(t, k, {ps::typeFloat, *v, {}, 0}); return 0; };
  writeProcs.putUnitFloatProc = [](ps::PIWriteDescriptor t, uint32_t k, uint32_t, const double* v) -> ps::OSErr { Put(t, k, {ps::typeFloat, *v, {}, 0}); return 0; };
  writeProcs.putBooleanProc = [](ps::PIWriteDescriptor t, uint32_t k, ps::Boolean v) -> ps::OSErr { Put(t, k, {ps::typeBoolean, double(v), {}, 0}); return 0; };
  writeProcs.putTextProc = [](ps::PIWriteDescriptor t, uint32_t k, ps::Handle v) -> ps::OSErr {
    Put(t, k, {ps::typeText, 0, std::string(B(v)->bytes.data(), strnlen(B(v)->bytes.data(), B(v)->Size())), 0});
    return 0;
  };
  writeProcs.putAliasProc = [](ps::PIWriteDescriptor, uint32_t, ps::Handle) -> ps::OSErr { return -1; };
  writeProcs.putEnumeratedProc = [](ps::PIWriteDescriptor t, uint32_t k, uint32_t type, uint32_t v) -> ps::OSErr {
    Put(t, k, {ps::typeEnumerated, double(v), {}, type});
    return 0;
  };
  writeProcs.putClassProc = [](ps::PIWriteDescriptor, uint32_t, uint32_t) -> ps::OSErr { return -1; };
  writeProcs.putSimpleReferenceProc = [](ps::PIWriteDescriptor, uint32_t, const void*) -> ps::OSErr { return -1; };
  writeProcs.putObjectProc = [](ps::PIWriteDescriptor, uint32_t, uint32_t, ps::PIDescriptorHandle) -> ps::OSErr { return -1; };
  writeProcs.putCountProc = [](ps::PIWriteDescriptor, uint32_t, uint32_t) -> ps::OSErr { return -1; };
  writeProcs.putStringProc = [](ps::PIWriteDescriptor, uint32_t, const unsigned char*) -> ps::OSErr { return -1; };
  writeProcs.putScopedClassProc = [](ps::PIWriteDescriptor, uint32_t, uint32_t) -> ps::OSErr { return -1; };
  writeProcs.putScopedObjectProc = [](ps::PIWriteDescriptor, uint32_t, uint32_t, ps::PIDescriptorHandle) -> ps::OSErr { return -1; };

  descriptorParameters = {0, ps::plugInDialogDontDisplay, 0, nullptr, &writeProcs, &readProcs};
  platform = {this, &FakeHostCallbacks::Message};

  ps::FilterRecord& r = record;
  r.abortProc = &FakeHostCallbacks::Abort;
  r.progressProc = &FakeHostCallbacks::Progress;
  r.imageSize = {int16_t(h), int16_t(w)};
  r.planes = int16_t(planes);
  r.filterRect = {0, 0, int16_t(h), int16_t(w)};
  r.imageMode = imageMode;
  r.imageHRes = r.imageVRes = 72 << 16;
  r.filterCase = transparency ? ps::filterCaseEditableTransparencyNoSelection : ps::filterCaseFlatImageNoSelection;
  r.inLayerPlanes = r.outLayerPlanes = int16_t(transparency ? colorPlanes : 0);
  r.inTransparencyMask = r.outTransparencyMask = int16_t(transparency ? 1 : 0);
  r.platformData = &platform;
  r.bufferProcs = &bufferProcs;
  r.handleProcs = &handleProcs;
  r.propertyProcs = &propertyProcs;
  r.advanceState = &FakeHostCallbacks::Advance;
  r.colorServices = &FakeHostCallbacks::ColorServices;
  r.displayPixels = &FakeHostCallbacks::Display;
  r.descriptorParameters = &descriptorParameters;
  r.foreColor[0] = r.foreColor[1] = r.foreColor[2] = 0;
  r.backColor[0] = r.backColor[1] = r.backColor[2] = 255;
}

FakeHost::~FakeHost() {
  if (record.parameters != nullptr) delete B(record.parameters);
  if (descriptorParameters.descriptor != nullptr) delete B(descriptorParameters.descriptor);
  if (current == this) current = nullptr;
}

void FakeHost::SetSelection(std::vector<uint8_t> mask) {
  selection_ = std::move(mask);
  record.haveMask = true;
  record.filterCase = record.inTransparencyMask ? ps::filterCaseEditableTransparencyWithSelection
                                                : ps::filterCaseFlatImageWithSelection;
}

void FakeHost::SetScript(Descriptor script, int16_t playInfo) {
  auto* b = new Block;
  b->descriptor = std::move(script);
  if (descriptorParameters.descriptor != nullptr) delete B(descriptorParameters.descriptor);
  descriptorParameters.descriptor = H(b);
  descriptorParameters.playInfo = playInfo;
}

bool FakeHost::HandleIntact(ps::Handle handle) { return handle == nullptr || B(handle)->Intact(); }

Descriptor FakeHost::Written(const std::function<int32_t(const ps::WriteDescriptorProcs&, ps::PIWriteDescriptor,
                                                         const ps::HandleProcs&)>& write) {
  current = this;
  ps::PIWriteDescriptor token = writeProcs.openWriteDescriptorProc();
  const int32_t err = write(writeProcs, token, handleProcs);
  ps::PIDescriptorHandle handle = nullptr;
  writeProcs.closeWriteDescriptorProc(token, &handle);
  Descriptor values = err == 0 && handle != nullptr ? B(handle)->descriptor : Descriptor{};
  delete B(handle);
  return values;
}

int16_t FakeHost::Call(int16_t selector, int32_t filterId) {
  current = this;
  selectorsSeen.push_back(selector);
  int16_t result = -1;
  if (entry != nullptr) entry(selector, &record, &data, &result, filterId);
  lastResult = result;
  return result;
}

bool FakeHost::Run(int32_t filterId, bool withDialog) {
  original_ = pixels;
  struct Forget {
    std::vector<uint8_t>& v;
    ~Forget() { v.clear(); }
  } forget{original_};
  if (withDialog && Call(ps::filterSelectorParameters, filterId) != 0) return false;
  if (Call(ps::filterSelectorPrepare, filterId) != 0) return false;
  if (Call(ps::filterSelectorStart, filterId) != 0) return false;
  auto empty = [](const ps::Rect16& r) { return r.right <= r.left || r.bottom <= r.top; };
  bool ok = true;
  while (!(empty(record.inRect) && empty(record.outRect) && empty(record.maskRect))) {
    if (Call(ps::filterSelectorContinue, filterId) != 0) {
      ok = false;
      break;
    }
  }
  WriteBackOutput();
  // As an image editor does, finish follows every start that succeeded,
  // whatever continue answered; the failure stays the run's result.
  const int16_t failure = lastResult;
  const int16_t finish = Call(ps::filterSelectorFinish, filterId);
  if (ok) ok = finish == 0;
  else lastResult = failure;
  if (descriptorParameters.descriptor != nullptr) written = B(descriptorParameters.descriptor)->descriptor;
  return ok;
}

void FakeHost::WriteBackOutput() {
  const ps::Rect16 r = lastOutRect_;
  if (r.right <= r.left || r.bottom <= r.top || outBuffer_.empty()) return;
  const int n = lastOutHi_ - lastOutLo_ + 1;
  const int rowBytes = (r.right - r.left) * n;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      for (int p = 0; p < n; ++p)
        pixels[(size_t(y) * width + x) * planes + lastOutLo_ + p] =
            outBuffer_[size_t(y - r.top) * rowBytes + (x - r.left) * n + p];
  lastOutRect_ = {};
}

int16_t FakeHost::Advance() {
  ++advanceCalls;
  WriteBackOutput();
  ps::FilterRecord& r = record;
  const auto fill = [&](const std::vector<uint8_t>& source, const ps::Rect16& rect, int lo, int hi, int rate,
                        std::vector<uint8_t>& buffer,
                        void*& data, int32_t& rowBytes) {
    if (rect.right <= rect.left || rect.bottom <= rect.top || hi < lo) {
      data = nullptr;
      rowBytes = 0;
      return;
    }
    const int n = hi - lo + 1;
    // Whole pixels at full size are handed over where they lie, as real
    // hosts do: the core only reads its input.
    if (&buffer == &inBuffer_ && rate == 1 && n == planes) {
      buffer = {};
      data = const_cast<uint8_t*>(source.data()) + (size_t(rect.top) * width + rect.left) * planes;
      rowBytes = width * planes;
      return;
    }
    const int w = (rect.right - rect.left + rate - 1) / rate, h = (rect.bottom - rect.top + rate - 1) / rate;
    buffer.assign(size_t(w) * h * n, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int p = 0; p < n; ++p)
          buffer[(size_t(y) * w + x) * n + p] =
              source[(size_t(rect.top + y * rate) * width + rect.left + x * rate) * planes + lo + p];
    data = buffer.data();
    rowBytes = w * n;
  };
  // Input is read from the image as it was when the run began, as hosts do:
  // tiles already written never feed later ones.
  fill(original_.empty() ? pixels : original_, r.inRect, r.inLoPlane, r.inHiPlane, std::max(1, r.inputRate >> 16),
       inBuffer_, r.inData, r.inRowBytes);
  fill(pixels, r.outRect, r.outLoPlane, r.outHiPlane, 1, outBuffer_, r.outData, r.outRowBytes);
  lastOutRect_ = r.outRect;
  lastOutLo_ = r.outLoPlane;
  lastOutHi_ = r.outHiPlane;

  const ps::Rect16 m = r.maskRect;
  if (r.haveMask && m.right > m.left && m.bottom > m.top) {
    const int w = m.right - m.left;
    maskBuffer_.assign(size_t(w) * (m.bottom - m.top), 255);
    for (int y = m.top; y < m.bottom; ++y)
      for (int x = m.left; x < m.right; ++x)
        maskBuffer_[size_t(y - m.top) * w + x - m.left] = selection_.empty() ? 255 : selection_[size_t(y) * width + x];
    r.maskData = maskBuffer_.data();
    r.maskRowBytes = w;
  } else {
    r.maskData = nullptr;
  }
  return 0;
}

}  // namespace kv::test
