#include "hosts/common/host_callbacks.h"

#include <algorithm>
#include <new>

#include "hosts/common/memory_suites.h"

namespace kv::host {

FilterHost* FilterHost::Callbacks::active = nullptr;

namespace {

// The host version the version property reports: not kalvero's own, but
// that of a current editor, whose ruler units are numbered as today's.
constexpr int32_t kVersion[3] = {20, 0, 0};
constexpr ps::OSErr kPropertyUndefined = -30901;

void PutBigEndian(char* p, int32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = char(uint32_t(v) >> (24 - 8 * i));
}

}  // namespace

ps::Boolean FilterHost::Callbacks::Abort() {
  return active != nullptr && active->hooks.shouldAbort && active->hooks.shouldAbort() ? 1 : 0;
}

void FilterHost::Callbacks::Progress(int32_t done, int32_t total) {
  if (active != nullptr && active->hooks.progress) active->hooks.progress(done, total);
}

ps::OSErr FilterHost::Callbacks::Advance() {
  if (active == nullptr) return ps::generalFailure;
  try {
    return active->AdvanceState();
  } catch (const std::bad_alloc&) {
    return ps::memFullErr;
  }
}

ps::OSErr FilterHost::Callbacks::ColorServices(ps::ColorServicesInfo* info) {
  if (info == nullptr) return ps::generalFailure;
  switch (info->selector) {
    case ps::plugIncolorServicesChooseColor: return ps::userCanceledErr;  // nobody to ask in batch
    case ps::plugIncolorServicesConvertColor: {
      const int16_t to = info->resultSpace == ps::plugIncolorServicesChosenSpace ? info->sourceSpace : info->resultSpace;
      info->resultGamutInfoValid = false;
      const ps::OSErr err = ConvertColor(info->sourceSpace, to, info->colorComponents);
      if (err == 0) info->resultSpace = to;
      return err;
    }
    default: return ps::generalFailure;
  }
}

ps::OSErr FilterHost::Callbacks::DisplayPixels(const ps::PSPixelMap* source, const ps::VRect*, int32_t, int32_t,
                                               void*) {
  if (source == nullptr) return ps::generalFailure;
  if (active != nullptr) ++active->displayCalls_;
  return ps::noErr;
}

ps::OSErr FilterHost::Callbacks::GetProperty(uint32_t signature, uint32_t key, int32_t, intptr_t* simple,
                                             ps::Handle* complex) {
  if (complex != nullptr) *complex = nullptr;
  if (signature == ps::kKalveroSignature && key == ps::propTileSize && active != nullptr && active->tileSize_ > 0) {
    if (simple != nullptr) *simple = active->tileSize_;
    return ps::noErr;
  }
  if (signature != ps::kPhotoshopSignature) return kPropertyUndefined;
  if (key == ps::propVersion) {
    if (simple != nullptr) *simple = intptr_t(kVersion[0] << 16 | kVersion[1] << 8 | kVersion[2]);
    if (complex != nullptr) {
      *complex = NewHandle(12);
      if (*complex == nullptr) return ps::memFullErr;
      for (int i = 0; i < 3; ++i) PutBigEndian(HandleData(*complex) + 4 * i, kVersion[i]);
    }
    return ps::noErr;
  }
  if (key == ps::propRulerUnits) {
    // Pixels unless the host says otherwise: kalvero's command line and
    // scripts give lengths in pixels.
    if (simple != nullptr) *simple = active != nullptr ? active->rulerUnits_ : 0;
    return ps::noErr;
  }
  return kPropertyUndefined;
}

ps::OSErr FilterHost::Callbacks::SetProperty(uint32_t signature, uint32_t key, int32_t, intptr_t simple, ps::Handle) {
  if (signature != ps::kPhotoshopSignature || key != ps::propWatchSuspension) return kPropertyUndefined;
  if (active != nullptr) {
    active->watchSuspended_ = simple != 0;
    active->dialogShown_ = active->dialogShown_ || simple != 0;
  }
  return ps::noErr;
}

// Nearest-neighbour scaling of one document plane into the caller's memory,
// which starts at the top-left of `writeRect`.
ps::OSErr FilterHost::Callbacks::ReadChannel(ps::ChannelReadPort port, const ps::PSScaling* scaling,
                                             const ps::VRect* writeRect, const ps::PixelMemoryDesc* destination,
                                             ps::VRect* wroteRect) {
  if (active == nullptr || writeRect == nullptr || destination == nullptr || destination->data == nullptr)
    return ps::generalFailure;
  const Document& doc = active->document_;
  const intptr_t plane = reinterpret_cast<intptr_t>(port) - 1;
  if (plane < 0 || plane >= doc.Planes()) return ps::generalFailure;
  if (destination->depth != 8 || destination->colBits % 8 != 0 || destination->rowBits % 8 != 0 ||
      destination->bitOffset % 8 != 0)
    return ps::generalFailure;

  const ps::VRect whole{0, 0, doc.height, doc.width};
  const ps::VRect src = scaling != nullptr ? scaling->sourceRect : whole;
  const ps::VRect dst = scaling != nullptr ? scaling->destinationRect : src;
  const int32_t sw = src.right - src.left, sh = src.bottom - src.top;
  const int32_t dw = dst.right - dst.left, dh = dst.bottom - dst.top;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return ps::generalFailure;
  const ps::VRect out{std::max(writeRect->top, dst.top), std::max(writeRect->left, dst.left),
                      std::min(writeRect->bottom, dst.bottom), std::min(writeRect->right, dst.right)};

  auto* base = static_cast<uint8_t*>(destination->data) + destination->bitOffset / 8;
  const int32_t planes = doc.Planes();
  for (int32_t y = out.top; y < out.bottom; ++y) {
    const int64_t sy = src.top + int64_t(y - dst.top) * sh / dh;
    uint8_t* row = base + int64_t(y - writeRect->top) * (destination->rowBits / 8);
    for (int32_t x = out.left; x < out.right; ++x) {
      const int64_t sx = src.left + int64_t(x - dst.left) * sw / dw;
      const bool inside = sx >= 0 && sy >= 0 && sx < doc.width && sy < doc.height;
      row[int64_t(x - writeRect->left) * (destination->colBits / 8)] =
          inside ? doc.pixels[(size_t(sy) * size_t(doc.width) + size_t(sx)) * size_t(planes) + size_t(plane)] : 0;
    }
  }
  if (wroteRect != nullptr) *wroteRect = out;
  return ps::noErr;
}

void FilterHost::Callbacks::Message(void* window, int32_t kind, const char* caption, const char* text) {
  static_cast<FilterHost*>(window)->ShowMessage(kind, caption != nullptr ? caption : "", text != nullptr ? text : "");
}

}  // namespace kv::host
