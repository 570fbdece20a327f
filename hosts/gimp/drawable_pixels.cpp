#include "hosts/gimp/drawable_pixels.h"

#include <libgimp/gimp.h>

#include <cstring>
#include <stdexcept>

#include "platform/string_table.h"

namespace kv::gimp {

namespace {

GeglRectangle Gegl(const Rect& r) { return {r.left, r.top, r.Width(), r.Height()}; }

std::string PrecisionName(int32_t image) {
  const GimpPrecision precision = gimp_image_get_precision(image);
  const char* name = nullptr;
  gimp_enum_get_value(GIMP_TYPE_PRECISION, precision, nullptr, nullptr, &name, nullptr);
  // A channel of an 8-bit perceptual image holds linear samples.
  if (precision == GIMP_PRECISION_U8_GAMMA || name == nullptr) return "8-bit linear";
  return name;
}

}  // namespace

DrawablePixels::DrawablePixels(int32_t image, int32_t drawable) : image_(image), drawable_(drawable) {
  if (gimp_drawable_is_indexed(drawable))
    throw std::invalid_argument(
        "the effects work on RGB and grey images, not on indexed colours; convert the image "
        "with Image > Mode > RGB first");
  // The result goes in while the selection is changed, which GIMP does not
  // allow over a floating selection.
  if (gimp_image_get_floating_sel(image) != -1)
    throw std::invalid_argument(strings::Text("Error - Floating Selection"));
  const int32_t width = gimp_drawable_width(drawable), height = gimp_drawable_height(drawable);
  // The filter protocol's rectangles are 16-bit.
  if (width > 32767 || height > 32767)
    throw std::invalid_argument("the layer is " + std::to_string(width) + " x " + std::to_string(height) +
                                " pixels; the effects work on layers of up to 32767 pixels a side");
  const bool grey = gimp_drawable_is_gray(drawable), alpha = gimp_drawable_has_alpha(drawable);
  native_ = gimp_drawable_get_format(drawable);
  bytes_ = babl_format_with_space(grey ? (alpha ? "Y'A u8" : "Y' u8") : (alpha ? "R'G'B'A u8" : "R'G'B' u8"), native_);
  if (native_ != bytes_) conversion_ = PrecisionName(image);

  document_ = Document(width, height, grey ? Mode::Grey : Mode::RGB, alpha);
  gimp_image_get_resolution(image, &document_.xResolution, &document_.yResolution);
  // As kalvero reads the same file, so that lengths come out alike.
  document_.xResolution = WholeResolution(document_.xResolution);
  document_.yResolution = WholeResolution(document_.yResolution);
  gimp_drawable_offsets(drawable, &offset_.x, &offset_.y);

  gint x = 0, y = 0, w = 0, h = 0;
  if (!gimp_drawable_mask_intersect(drawable, &x, &y, &w, &h))
    throw std::invalid_argument("the selection leaves this layer out; select part of the layer, or nothing");

  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  const GeglRectangle all{0, 0, width, height};
  gegl_buffer_get(buffer, &all, 1.0, bytes_, document_.pixels.data(), int(document_.RowBytes()), GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  lockedAlpha_ = alpha && gimp_item_is_layer(drawable) && gimp_layer_get_lock_alpha(drawable);

  if (!gimp_selection_is_empty(image)) {
    // The selection's samples are linear coverage, taken as they are.
    selection_.resize(size_t(width) * size_t(height));
    GeglBuffer* mask = gimp_drawable_get_buffer(gimp_image_get_selection(image));
    const GeglRectangle over{offset_.x, offset_.y, width, height};
    gegl_buffer_get(mask, &over, 1.0, babl_format("Y u8"), selection_.data(), width, GEGL_ABYSS_NONE);
    g_object_unref(mask);
  }
}

// The document over `region` in the drawable's own format.
std::vector<uint8_t> DrawablePixels::NativeResult(const Rect& region) const {
  const size_t width = size_t(region.Width()), planes = size_t(document_.Planes());
  const size_t bpp = size_t(babl_format_get_bytes_per_pixel(native_));
  std::vector<uint8_t> out(width * size_t(region.Height()) * bpp);
  if (native_ == bytes_ && !lockedAlpha_) {
    for (int32_t y = region.top; y < region.bottom; ++y)
      std::memcpy(out.data() + size_t(y - region.top) * width * bpp, document_.Row(y) + size_t(region.left) * planes,
                  width * bpp);
    return out;
  }
  // The drawable still holds what the run started from.
  std::vector<uint8_t> original(out.size());
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable_);
  const GeglRectangle r = Gegl(region);
  gegl_buffer_get(buffer, &r, 1.0, native_, original.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  const Babl* toNative = babl_fish(bytes_, native_);
  const Babl* toBytes = babl_fish(native_, bytes_);
  const size_t alphaBytes = document_.hasAlpha ? bpp / size_t(babl_format_get_n_components(native_)) : 0;
  std::vector<uint8_t> before(width * planes);
  for (int32_t y = region.top; y < region.bottom; ++y) {
    const uint8_t* result = document_.Row(y) + size_t(region.left) * planes;
    const size_t offset = size_t(y - region.top) * width * bpp;
    uint8_t* dst = out.data() + offset;
    const uint8_t* was = original.data() + offset;
    babl_process(toNative, result, dst, long(width));
    babl_process(toBytes, was, before.data(), long(width));
    for (size_t x = 0; x < width; ++x, dst += bpp, was += bpp) {
      if (std::memcmp(result + x * planes, before.data() + x * planes, planes) == 0)
        std::memcpy(dst, was, bpp);
      else if (lockedAlpha_)
        std::memcpy(dst + bpp - alphaBytes, was + bpp - alphaBytes, alphaBytes);
    }
  }
  return out;
}

void DrawablePixels::Merge(const Rect& region, const std::vector<uint8_t>& samples) {
  const GeglRectangle r = Gegl(region);
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable_);
  gegl_buffer_set(shadow, &r, 0, native_, samples.data(), GEGL_AUTO_ROWSTRIDE);
  g_object_unref(shadow);
  if (!gimp_drawable_merge_shadow(drawable_, TRUE)) throw std::runtime_error("GIMP did not take the result");
  gimp_drawable_update(drawable_, r.x, r.y, r.width, r.height);
}

void DrawablePixels::Commit(const Rect& written) {
  const Rect whole{0, 0, document_.width, document_.height};
  const Rect wrote = written.Intersect(whole);
  if (wrote.IsEmpty()) return;
  // Without a selection GIMP's merge puts the whole drawable in as it is.
  if (selection_.empty()) {
    Merge(whole, NativeResult(whole));
    return;
  }
  // Through a selection it would blend a second time what the core has
  // blended already, and only within the selection's bounds, where an edge
  // effect fills beyond them. So the selection becomes a rectangle around
  // what was written, or nothing when that leaves the canvas, and is put
  // back afterwards, all in one undo step.
  const Rect canvas{0, 0, gimp_image_width(image_), gimp_image_height(image_)};
  const Rect onCanvas = wrote.Offset(offset_.x, offset_.y);
  const bool rectangle = canvas.Contains(onCanvas);
  const Rect region = rectangle ? wrote : whole;
  const std::vector<uint8_t> samples = NativeResult(region);
  const bool channel = !gimp_item_is_layer(drawable_) && !gimp_item_is_layer_mask(drawable_);

  gimp_image_undo_group_start(image_);
  gimp_context_push();
  gimp_context_set_feather(FALSE);
  const int32_t saved = gimp_selection_save(image_);
  if (rectangle)
    gimp_image_select_rectangle(image_, GIMP_CHANNEL_OP_REPLACE, onCanvas.left, onCanvas.top, onCanvas.Width(),
                                onCanvas.Height());
  else
    gimp_selection_none(image_);
  std::string failed;
  try {
    Merge(region, samples);
  } catch (const std::runtime_error& e) {
    failed = e.what();
  }
  gimp_image_select_item(image_, GIMP_CHANNEL_OP_REPLACE, saved);
  gimp_image_remove_channel(image_, saved);
  // Saving the selection made it the active channel.
  if (channel) gimp_image_set_active_channel(image_, drawable_);
  gimp_context_pop();
  gimp_image_undo_group_end(image_);
  if (!failed.empty()) throw std::runtime_error(failed);
}

}  // namespace kv::gimp
