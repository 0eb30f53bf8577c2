// JPEG 2000 decoding (OpenJPEG): JP2 files and bare J2K codestreams.
#pragma once

#include "platform/image/image.h"

#include <string_view>

namespace mivora::image {

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
