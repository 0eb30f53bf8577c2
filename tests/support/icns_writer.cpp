#include "support/icns_writer.h"

#include "platform/image/png.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <png.h>
#include <stdexcept>
#include <zlib.h>

extern "C" {
#include <icns.h>
}

namespace mivora::testing {

void setPixel(image::Bitmap& bitmap, int x, int y, RGBA colour) {
    uint8_t* p = bitmap.pixels.data() + (static_cast<size_t>(y) * bitmap.width + x) * 4;
    p[0] = static_cast<uint8_t>((colour.red * colour.alpha + 127) / 255);
    p[1] = static_cast<uint8_t>((colour.green * colour.alpha + 127) / 255);
    p[2] = static_cast<uint8_t>((colour.blue * colour.alpha + 127) / 255);
    p[3] = colour.alpha;
}

void fillRect(image::Bitmap& bitmap, int x, int y, int width, int height, RGBA colour) {
    for (int j = std::max(y, 0); j < std::min(y + height, bitmap.height); ++j) {
        for (int i = std::max(x, 0); i < std::min(x + width, bitmap.width); ++i)
            setPixel(bitmap, i, j, colour);
    }
}

image::Bitmap solidBitmap(int width, int height, RGBA colour) {
    image::Bitmap bitmap = image::Bitmap::transparent(width, height);
    fillRect(bitmap, 0, 0, width, height, colour);
    return bitmap;
}

image::Bitmap squareOnWhite(int side) {
    image::Bitmap bitmap = solidBitmap(side, side, {255, 255, 255, 255});
    fillRect(bitmap, side / 4, side / 4, side / 2, side / 2, {20, 120, 220, 255});
    return bitmap;
}

RGBA pixelOf(const image::Bitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.pixels.data() + (static_cast<size_t>(y) * bitmap.width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

std::string pngBytes(const image::Bitmap& bitmap) {
    return image::encodePNG(bitmap);
}

std::string rgbPNGBytes(const image::Bitmap& bitmap) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(bitmap.width);
    png.height = static_cast<png_uint_32>(bitmap.height);
    png.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(bitmap.width) * bitmap.height * 3);
    for (size_t i = 0; i + 3 < bitmap.pixels.size(); i += 4)
        rgb.insert(rgb.end(), &bitmap.pixels[i], &bitmap.pixels[i] + 3);
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, rgb.data(), 0, nullptr))
        throw std::runtime_error(png.message);
    std::string bytes(size, '\0');
    if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, rgb.data(), 0, nullptr))
        throw std::runtime_error(png.message);
    bytes.resize(size);
    return bytes;
}

int pngChannels(int colourType) {
    switch (colourType) {
    case 2:
        return 3;
    case 4:
        return 2;
    case 6:
        return 4;
    default:
        return 1;
    }
}

namespace {

void appendToString(png_structp png, png_bytep data, size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void noFlush(png_structp) {}

} // namespace

std::string libpngFile(const PNGPicture& picture) {
    const int channels = pngChannels(picture.colourType);
    const size_t samplesPerRow = static_cast<size_t>(picture.width) * channels;
    if (picture.samples.size() != samplesPerRow * picture.height)
        throw std::runtime_error("samples do not fit");
    // Rows as the file holds them: 16-bit samples big-endian, those below 8 bits packed from the top bit.
    std::vector<std::vector<png_byte>> rows(picture.height);
    for (uint32_t y = 0; y < picture.height; ++y) {
        std::vector<png_byte>& row = rows[y];
        row.assign((samplesPerRow * picture.bitDepth + 7) / 8, 0);
        for (size_t i = 0; i < samplesPerRow; ++i) {
            const uint16_t value = picture.samples[y * samplesPerRow + i];
            if (picture.bitDepth == 16) {
                row[i * 2] = static_cast<png_byte>(value >> 8);
                row[i * 2 + 1] = static_cast<png_byte>(value);
            } else {
                const size_t bit = i * picture.bitDepth;
                row[bit / 8] =
                    static_cast<png_byte>(row[bit / 8] | (value << (8 - picture.bitDepth - bit % 8)));
            }
        }
    }
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write the picture");
    }
    png_set_write_fn(png, &out, appendToString, noFlush);
    png_set_IHDR(png, info, picture.width, picture.height, picture.bitDepth, picture.colourType,
                 picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colours;
    std::vector<png_byte> alphas;
    for (const RGBA& entry : picture.palette) {
        colours.push_back({entry.red, entry.green, entry.blue});
        alphas.push_back(entry.alpha);
    }
    if (!colours.empty()) png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
    if (std::any_of(alphas.begin(), alphas.end(), [](png_byte a) { return a < 255; }))
        png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
    if (picture.sRGB) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (picture.fileGamma) png_set_gAMA(png, info, *picture.fileGamma);
    png_write_info(png, info);
    png_set_interlace_handling(png);
    std::vector<png_bytep> pointers;
    for (auto& row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Samples of every kind spread over their whole range, the same for a picture
// and its twin; a palette of 2^depth colours, some partly transparent.
PNGPicture patternPNGPicture(uint32_t width, uint32_t height, int bitDepth, int colourType) {
    PNGPicture picture;
    picture.width = width;
    picture.height = height;
    picture.bitDepth = bitDepth;
    picture.colourType = colourType;
    const uint32_t levels = 1u << bitDepth;
    const int channels = pngChannels(colourType);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const uint32_t mixed =
                    (x * 37 + y * 91 + static_cast<uint32_t>(c) * 53 + x * y * 7) * 2654435761u;
                picture.samples.push_back(static_cast<uint16_t>((mixed >> 8) % levels));
            }
        }
    }
    if (colourType == 3) {
        for (uint32_t i = 0; i < levels; ++i) {
            picture.palette.push_back({static_cast<uint8_t>(i * 67), static_cast<uint8_t>(255 - i * 29),
                                       static_cast<uint8_t>(i * 13 + 40),
                                       static_cast<uint8_t>(i % 3 ? 255 : i * 9)});
        }
    }
    return picture;
}

PNGPicture eightBitEdition(PNGPicture picture) {
    picture.bitDepth = 8;
    for (uint16_t& sample : picture.samples)
        sample = static_cast<uint16_t>((sample * 255u + 32767) / 65535);
    return picture;
}

std::string solidPNG(int width, int height, RGBA colour) {
    return pngBytes(solidBitmap(width, height, colour));
}

std::string jpegBytes(const image::Bitmap& bitmap, bool progressive) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(bitmap.width);
    info.image_height = static_cast<JDIMENSION>(bitmap.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(bitmap.width) * 3);
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < bitmap.width; ++x) {
            RGBA p = pixelOf(bitmap, x, static_cast<int>(info.next_scanline));
            row[x * 3] = p.red;
            row[x * 3 + 1] = p.green;
            row[x * 3 + 2] = p.blue;
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

std::string jpeg2000Bytes(const image::Bitmap& bitmap) {
    icns_set_print_errors(0);
    icns_image_t picture{};
    if (icns_init_image(static_cast<icns_uint32_t>(bitmap.width), static_cast<icns_uint32_t>(bitmap.height),
                        4, 8, &picture) != ICNS_STATUS_OK) {
        throw std::runtime_error("icns_init_image failed");
    }
    // libicns takes straight RGBA.
    for (int y = 0; y < bitmap.height; ++y) {
        for (int x = 0; x < bitmap.width; ++x) {
            RGBA p = pixelOf(bitmap, x, y);
            auto straight = [&](uint8_t c) -> uint8_t {
                return p.alpha ? static_cast<uint8_t>(std::min(255, c * 255 / p.alpha)) : uint8_t{0};
            };
            uint8_t* out = picture.imageData + (static_cast<size_t>(y) * bitmap.width + x) * 4;
            out[0] = straight(p.red);
            out[1] = straight(p.green);
            out[2] = straight(p.blue);
            out[3] = p.alpha;
        }
    }
    icns_size_t size = 0;
    icns_byte_t* data = nullptr;
    int status = icns_image_to_jp2(&picture, &size, &data);
    icns_free_image(&picture);
    if (status != ICNS_STATUS_OK || data == nullptr) throw std::runtime_error("icns_image_to_jp2 failed");
    std::string bytes(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    std::free(data);
    return bytes;
}

namespace {
uint32_t crc32(std::string_view bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
} // namespace

std::string pngChunk(const std::string& type, const std::string& data, std::optional<uint32_t> crc) {
    return bigEndian32(static_cast<uint32_t>(data.size())) + type + data +
           bigEndian32(crc.value_or(crc32(type + data)));
}

std::string zlibStream(const std::string& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string data(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(data.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), 6) != Z_OK) {
        throw std::runtime_error("compress2 failed");
    }
    data.resize(size);
    return data;
}

std::string filteredRows(const std::vector<uint8_t>& pixels, size_t rowBytes, size_t bytesPerPixel,
                         const std::vector<uint8_t>& filters) {
    std::string rows;
    const size_t height = pixels.size() / rowBytes;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t type = filters[y % filters.size()];
        const uint8_t* row = pixels.data() + y * rowBytes;
        const uint8_t* above = y > 0 ? row - rowBytes : nullptr;
        rows.push_back(static_cast<char>(type));
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bytesPerPixel ? row[i - bytesPerPixel] : 0;
            const int b = above ? above[i] : 0;
            const int c = above && i >= bytesPerPixel ? above[i - bytesPerPixel] : 0;
            int predicted = 0;
            if (type == 1) predicted = a;
            if (type == 2) predicted = b;
            if (type == 3) predicted = (a + b) / 2;
            if (type == 4) {
                const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            rows.push_back(static_cast<char>(row[i] - predicted));
        }
    }
    return rows;
}

std::string pngHeader(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType,
                      uint8_t interlace) {
    return pngChunk("IHDR", bigEndian32(width) + bigEndian32(height) +
                                std::string{static_cast<char>(bitDepth), static_cast<char>(colourType), 0, 0,
                                            static_cast<char>(interlace)});
}

std::string pngFile(const std::vector<std::string>& chunks) {
    std::string file("\x89PNG\r\n\x1a\n", 8);
    for (const auto& chunk : chunks)
        file += chunk;
    return file;
}

std::string bilevelPNG(uint32_t width, uint32_t height) {
    // Each row: filter byte 0, then the bits of the row, all zero.
    std::vector<unsigned char> raw(static_cast<size_t>(height) * (1 + (width + 7) / 8), 0);
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string data(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(data.data()), &size, raw.data(), static_cast<uLong>(raw.size()),
                  9) != Z_OK) {
        throw std::runtime_error("compress2 failed");
    }
    data.resize(size);
    std::string header = bigEndian32(width) + bigEndian32(height) + std::string("\x01\x00\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", data) +
           pngChunk("IEND", "");
}

std::string pngWithHeader(uint32_t width, uint32_t height) {
    std::string header = bigEndian32(width) + bigEndian32(height) + std::string("\x08\x06\x00\x00\x00", 5);
    // A few bytes of a zlib stream: enough to be read past, far too few for the announced pixels.
    std::string data("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", data) +
           pngChunk("IEND", "");
}

std::string bigEndian32(uint32_t value) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    return out;
}

std::string icnsMemberWithLength(const std::string& type, const std::string& data, uint32_t length) {
    return type + bigEndian32(length) + data;
}

std::string icnsFile(const std::vector<IcnsEntry>& members) {
    std::string body;
    for (const auto& member : members) {
        body += icnsMemberWithLength(member.type, member.data, static_cast<uint32_t>(member.data.size() + 8));
    }
    return "icns" + bigEndian32(static_cast<uint32_t>(body.size() + 8)) + body;
}

std::string runLengthChannels(int side, const std::vector<uint8_t>& channelValues) {
    std::string out;
    const size_t count = static_cast<size_t>(side) * side;
    for (uint8_t value : channelValues) {
        for (size_t done = 0; done < count;) {
            size_t run = std::min<size_t>(128, count - done);
            out.push_back(static_cast<char>(run - 1));
            out.append(run, static_cast<char>(value));
            done += run;
        }
    }
    return out;
}

} // namespace mivora::testing
