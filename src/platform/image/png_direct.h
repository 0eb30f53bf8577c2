// Our own reading of PNG files, beside libpng: the chunk walk, one libdeflate
// call over the image data, and the row filters. It takes only files it can
// judge whole and answers "not mine" for everything else (a palette, a chunk
// it does not know how to treat, any damage), so that libpng, the reference,
// decides those; whatever it accepts, libpng accepts with the same pixels.
#pragma once

#include "platform/image/image.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace mivora::image {

// Memory for the inflated image data that successive reads reuse, so that
// several files cost fresh pages only once. Nothing (a null pointer) when the
// memory cannot be had.
class InflateBuffer {
public:
    InflateBuffer() = default;
    ~InflateBuffer();
    InflateBuffer(const InflateBuffer&) = delete;
    InflateBuffer& operator=(const InflateBuffer&) = delete;

    uint8_t* reserve(size_t size);

private:
    void release();

    uint8_t* bytes_ = nullptr;
    size_t capacity_ = 0;
    size_t mapped_ = 0; // the length mapped, when the bytes are a mapping of their own
};

// What the direct check makes of a file kept as its bytes.
enum class DirectVerdict {
    whole,    // the signature, a valid header within the size caps, every chunk
              // complete with its CRC and of a kind this reader knows, one run of
              // image data that inflates (checksum included) to exactly the size
              // the header implies, for any bit depth, colour type but palette,
              // and interlacing, through deflate codes zlib reads too, every
              // row's filter type valid, and an IEND chunk that ends the file
    notWhole, // its image data does not read so in every reader
    notMine,  // anything else: libpng, reading strictly, decides
};
DirectVerdict directlyCheckedWhole(std::string_view bytes, InflateBuffer& buffer);

// The pixels (premultiplied, as every bitmap) of a sound, non-interlaced 8-bit
// RGB or RGBA file with no chunk that libpng would apply to its pixels (gamma,
// colour space, transparency, significant bits, background); nothing for any
// other file.
// Which code reverses the row filters: SSE2 lanes where the machine has them,
// or the plain loops that any machine runs (and the tests compare with them).
enum class Unfiltering { fastest, portable };
std::optional<Bitmap> directlyDecodedPNG(std::string_view bytes,
                                         Unfiltering unfiltering = Unfiltering::fastest);

} // namespace mivora::image
