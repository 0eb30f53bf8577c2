// Images as the rest of the program sees them: a bitmap type (RGBA bytes,
// colour premultiplied by alpha, rows top to bottom) and an image that holds
// one or more bitmaps of the same picture (an ICNS file holds several sizes)
// together with its size in points. Loading reads PNG, JPEG and ICNS files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mivora::image {

// A picture that cannot be read, decoded, drawn or encoded; what() says why.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// No image side beyond this is decoded or drawn, so that a lying header never
// turns into a multi-gigabyte allocation.
inline constexpr int kMaxImageSide = 16384;
// The most pixels one image file may decode to, all members of an ICNS file
// together (8192 x 8192: 256 MiB as a bitmap). Sizes are read from the headers
// and checked before anything is allocated, so that no input costs much more
// than a gigabyte of memory or a few seconds, however small the file.
inline constexpr long long kMaxImagePixels = 8192LL * 8192;

// Why a picture of this size is not decoded or drawn, or nothing when it may
// be: unless 0 <= width, height <= kMaxImageSide and width x height <= kMaxImagePixels.
std::optional<std::string> imageSizeProblem(long long width, long long height);
// Throws ImageError with imageSizeProblem's text.
void checkImageSize(long long width, long long height);
// Throws ImageError when `pixels` (the sum over the pictures one file would
// decode to) is above kMaxImagePixels.
void checkPixelBudget(long long pixels);

// Pixel (x, y) begins at byte (y * width + x) * 4 and holds R, G, B, A, the
// colour premultiplied by alpha.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    // A fully transparent bitmap; throws ImageError for a size out of range.
    static Bitmap transparent(int width, int height);
    bool isValid() const { return pixels.size() == static_cast<size_t>(width) * height * 4; }
};

struct Size {
    double width = 0;
    double height = 0;
};

// A picture's size in pixels as its header announces it, before any decoding.
struct PixelSize {
    int width = 0;
    int height = 0;
    long long area() const { return static_cast<long long>(width) * height; }
};

// An immutable picture: its representations (shared, so copies are cheap) and
// its size in points. A bitmap's point size is its pixel size (72 dpi).
class Image {
public:
    Image() = default; // the empty image: size 0 x 0, nothing to draw
    explicit Image(Bitmap bitmap);
    // Several pixel sizes of one picture; the point size is the largest one's.
    explicit Image(std::vector<Bitmap> representations);

    Size size() const { return size_; }
    // The representation drawing uses: the one with the most pixels, or nothing.
    const Bitmap* bestRepresentation() const;
    const std::vector<std::shared_ptr<const Bitmap>>& representations() const { return representations_; }

private:
    std::vector<std::shared_ptr<const Bitmap>> representations_;
    Size size_;
};

// Decodes PNG, JPEG or ICNS bytes (told apart by their signatures); throws ImageError.
Image decodeImage(std::string_view bytes);
// Reads and decodes a file; throws ImageError naming the file.
Image readImage(const std::string& path);
// The same, with nothing for a file that is missing or does not decode.
std::optional<Image> loadImage(const std::string& path);

} // namespace mivora::image
