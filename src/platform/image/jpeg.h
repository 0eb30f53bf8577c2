// JPEG (libjpeg-turbo) and JPEG 2000 (OpenJPEG) decoding.
#pragma once

#include "platform/image/image.h"

#include <string_view>

namespace mivora::image {

bool hasJPEGSignature(std::string_view bytes);
// Grey, RGB and CMYK JPEGs as an opaque bitmap; throws ImageError.
Bitmap decodeJPEG(std::string_view bytes);

inline constexpr int kMaxJPEG2000Side = 2048;

// A JP2 file or a bare J2K codestream.
bool hasJPEG2000Signature(std::string_view bytes);
// The size the header announces, after the checks decodeJPEG2000 makes before
// decoding; throws ImageError.
PixelSize jpeg2000PixelSize(std::string_view bytes);
// 1 to 4 components of up to 16 bits each, alpha when there are 2 or 4, at
// most kMaxJPEG2000Side on each side; throws ImageError.
Bitmap decodeJPEG2000(std::string_view bytes);

} // namespace mivora::image
