// The host's image read whole through its advance state, for effects that
// must see all of it and for the preview's source.
#pragma once

#include <memory>

#include "image/image.h"
#include "platform/protocol.h"

namespace kv {

// `rect` of the host's image at `scale` (above 1 the host delivers every
// n-th pixel, and the image covers `rect` in those reduced coordinates);
// null on failure or when memory runs out.
std::unique_ptr<ByteImage> ReadWholeImage(ps::FilterRecord* host, const Rect& rect, double scale);

}  // namespace kv
