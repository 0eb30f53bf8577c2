#include "platform/image/image.h"

#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/image/icns.h"
#include "platform/image/jpeg.h"
#include "platform/image/jpeg2000.h"
#include "platform/image/png.h"

namespace mivora::image {

std::optional<std::string> imageSizeProblem(long long width, long long height) {
    if (width < 0 || height < 0) return "negative image size";
    const std::string size = "image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width > kMaxImageSide || height > kMaxImageSide) {
        return size + " is larger than " + std::to_string(kMaxImageSide) + " x " +
               std::to_string(kMaxImageSide);
    }
    if (width * height > kMaxImagePixels) {
        return size + " is larger than the " + std::to_string(kMaxImagePixels) + " pixels an image may have";
    }
    return std::nullopt;
}

void checkImageSize(long long width, long long height) {
    if (auto problem = imageSizeProblem(width, height)) throw ImageError(*problem);
}

void checkPixelBudget(long long pixels) {
    if (pixels > kMaxImagePixels) {
        throw ImageError("the pictures of this file hold " + std::to_string(pixels) +
                         " pixels together, more than the " + std::to_string(kMaxImagePixels) +
                         " pixels an image may have");
    }
}

Bitmap Bitmap::transparent(int width, int height) {
    checkImageSize(width, height);
    Bitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    return bitmap;
}

Image::Image(Bitmap bitmap) {
    size_ = {static_cast<double>(bitmap.width), static_cast<double>(bitmap.height)};
    representations_.push_back(std::make_shared<const Bitmap>(std::move(bitmap)));
}

Image::Image(std::vector<Bitmap> representations) {
    for (auto& bitmap : representations) {
        representations_.push_back(std::make_shared<const Bitmap>(std::move(bitmap)));
    }
    if (const Bitmap* best = bestRepresentation()) {
        size_ = {static_cast<double>(best->width), static_cast<double>(best->height)};
    }
}

const Bitmap* Image::bestRepresentation() const {
    const Bitmap* best = nullptr;
    long long bestArea = -1;
    for (const auto& bitmap : representations_) {
        long long area = static_cast<long long>(bitmap->width) * bitmap->height;
        if (area > bestArea) {
            best = bitmap.get();
            bestArea = area;
        }
    }
    return best;
}

Image decodeImage(std::string_view bytes) {
    if (hasPNGSignature(bytes)) return Image(decodePNG(bytes));
    if (hasJPEGSignature(bytes)) return Image(decodeJPEG(bytes));
    if (hasICNSSignature(bytes)) return decodeIcnsImage(bytes);
    if (hasJPEG2000Signature(bytes)) return Image(decodeJPEG2000(bytes));
    throw ImageError(bytes.empty() ? "empty file" : "not a PNG, JPEG or ICNS image");
}

Image readImage(const std::string& path) {
    auto bytes = platform::readFile(path, platform::read_limits::image);
    if (!bytes) throw ImageError(path + ": cannot read the file");
    try {
        return decodeImage(*bytes);
    } catch (const ImageError& error) {
        throw ImageError(path + ": " + error.what());
    }
}

std::optional<Image> loadImage(const std::string& path) {
    try {
        return readImage(path);
    } catch (const ImageError&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace mivora::image
