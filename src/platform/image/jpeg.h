// JPEG decoding (libjpeg-turbo).
#pragma once

#include "platform/image/image.h"

#include <string_view>

namespace mivora::image {

bool hasJPEGSignature(std::string_view bytes);
// Grey, RGB and CMYK JPEGs as an opaque bitmap; throws ImageError.
Bitmap decodeJPEG(std::string_view bytes);

} // namespace mivora::image
