#include "platform/image/jpeg.h"

#include "platform/image/pixel_format.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>

namespace mivora::image {

bool hasJPEGSignature(std::string_view bytes) {
    return bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xD8 && static_cast<unsigned char>(bytes[2]) == 0xFF;
}

namespace {

struct JPEGErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// A progressive file may hold any number of scans, each a pass over the whole
// picture; real encoders write about ten.
constexpr int kMaxJPEGScans = 256;
// libjpeg's own buffers (the coefficients of a progressive picture: two bytes per
// sample) stay below this; a larger need is an error, there is no backing store.
constexpr long kMaxJPEGWorkingMemory = static_cast<long>(kMaxImagePixels) * 8;

void jpegErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<JPEGErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

void jpegQuiet(j_common_ptr) {}

void jpegProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number <= kMaxJPEGScans) return;
    auto* manager = reinterpret_cast<JPEGErrorManager*>(info->err);
    std::snprintf(manager->message, sizeof manager->message, "more than %d scans", kMaxJPEGScans);
    std::longjmp(manager->jump, 1);
}

// Warnings are dropped, except running out of data (or into the end marker)
// inside the picture: libjpeg would pad the rest with grey, however large its
// header says the picture is.
void jpegMessage(j_common_ptr info, int level) {
    int code = info->err->msg_code;
    if (level == -1 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) jpegErrorExit(info);
}

// Writes why the size is refused; out of line, so that readJPEG's frame holds no string.
bool sizeRefused(long long width, long long height, char* message, size_t messageSize) {
    auto problem = imageSizeProblem(width, height);
    if (problem) std::snprintf(message, messageSize, "%s", problem->c_str());
    return problem.has_value();
}

// Kept free of C++ objects with destructors in this frame: libjpeg reports
// errors by longjmp. The output lives in the caller's bitmap.
bool readJPEG(const unsigned char* data, unsigned long size, Bitmap* out, char* message, size_t messageSize) {
    jpeg_decompress_struct info;
    JPEGErrorManager errors;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = jpegProgress;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegErrorExit;
    errors.base.output_message = jpegQuiet;
    errors.base.emit_message = jpegMessage;
    errors.message[0] = '\0';
    if (setjmp(errors.jump)) {
        std::snprintf(message, messageSize, "%s", errors.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = kMaxJPEGWorkingMemory;
    info.progress = &progress;
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    // The header's size is checked before libjpeg allocates anything for the picture.
    if (info.image_width < 1 || info.image_height < 1) {
        std::snprintf(message, messageSize, "JPEG of zero size");
        jpeg_destroy_decompress(&info);
        return false;
    }
    if (sizeRefused(info.image_width, info.image_height, message, messageSize)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    out->width = static_cast<int>(info.output_width);
    out->height = static_cast<int>(info.output_height);
    // Rows are appended as they decode, so that a header that lies about the
    // size costs no more memory than the data behind it.
    out->pixels.reserve(static_cast<size_t>(out->width) * out->height * 4);
    while (info.output_scanline < info.output_height) {
        size_t rowBytes = static_cast<size_t>(out->width) * 4;
        out->pixels.resize(out->pixels.size() + rowBytes);
        JSAMPROW row = out->pixels.data() + out->pixels.size() - rowBytes;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            std::snprintf(message, messageSize, "the data ends early");
            jpeg_destroy_decompress(&info);
            return false;
        }
    }
    // Adobe's CMYK JPEGs store the inks inverted, which is what almost every CMYK JPEG is.
    if (cmyk) {
        for (size_t i = 0; i < out->pixels.size(); i += 4) {
            unsigned k = out->pixels[i + 3];
            for (int c = 0; c < 3; ++c)
                out->pixels[i + c] = static_cast<uint8_t>(out->pixels[i + c] * k / 255);
            out->pixels[i + 3] = 255;
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

Bitmap decodeJPEG(std::string_view bytes) {
    Bitmap bitmap;
    char message[JMSG_LENGTH_MAX + 64];
    if (!readJPEG(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &bitmap, message,
                  sizeof message)) {
        throw ImageError(std::string("damaged JPEG: ") + message);
    }
    return bitmap;
}

} // namespace mivora::image
