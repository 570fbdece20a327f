// A GIMP drawable as the filter host's document: its pixels as 8-bit
// samples, the image's selection over it as the protocol's mask, and the
// way back that puts the core's result in exactly, as one undo step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hosts/common/document.h"
#include "image/geometry.h"

using Babl = union _Babl;

namespace kv::gimp {

using host::Document;
using host::Mode;
using host::WholeResolution;

class DrawablePixels {
 public:
  // Throws std::invalid_argument saying why a drawable cannot be worked on
  // (indexed, too large, a selection that leaves it out).
  DrawablePixels(int32_t image, int32_t drawable);

  Document& Pixels() { return document_; }
  // The selection over the drawable, width x height bytes, 0 outside;
  // empty when nothing is selected.
  const std::vector<uint8_t>& Selection() const { return selection_; }
  // The drawable's top-left in the image.
  Point Offset() const { return offset_; }
  // Set when the drawable's own samples are not 8-bit perceptual ones and
  // went through a conversion on the way in: "16-bit linear" and the like.
  const std::string& Conversion() const { return conversion_; }

  // Writes the document back over `written` (the bounds of what the core
  // wrote) as one undo step. Pixels the effect left alone keep their own
  // samples, whatever the precision, and locked transparency stays as it
  // was.
  void Commit(const Rect& written);

 private:
  std::vector<uint8_t> NativeResult(const Rect& region) const;
  void Merge(const Rect& region, const std::vector<uint8_t>& samples);

  int32_t image_, drawable_;
  Document document_;
  std::vector<uint8_t> selection_;
  Point offset_{};
  const Babl* native_ = nullptr;
  const Babl* bytes_ = nullptr;  // the document's format
  bool lockedAlpha_ = false;
  std::string conversion_;
};

}  // namespace kv::gimp
