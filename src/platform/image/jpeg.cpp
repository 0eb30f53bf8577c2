#include "platform/image/jpeg.h"

#include "platform/image/pixel_format.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>
#include <openjpeg.h>

namespace mivora::image {

// --- JPEG --------------------------------------------------------------------

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

// --- JPEG 2000 ---------------------------------------------------------------

bool hasJPEG2000Signature(std::string_view bytes) {
    static const char jp2[] = "\x00\x00\x00\x0CjP  \r\n\x87\n";
    static const char codestream[] = "\xFF\x4F\xFF\x51";
    return (bytes.size() >= 12 && std::memcmp(bytes.data(), jp2, 12) == 0) ||
           (bytes.size() >= 4 && std::memcmp(bytes.data(), codestream, 4) == 0);
}

namespace {

struct MemoryStream {
    std::string_view bytes;
    size_t offset = 0;
};

OPJ_SIZE_T streamRead(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* stream = static_cast<MemoryStream*>(user);
    size_t left = stream->bytes.size() - stream->offset;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
    size_t n = count < left ? count : left;
    std::memcpy(buffer, stream->bytes.data() + stream->offset, n);
    stream->offset += n;
    return n;
}

OPJ_OFF_T streamSkip(OPJ_OFF_T count, void* user) {
    auto* stream = static_cast<MemoryStream*>(user);
    if (count < 0) {
        size_t back = static_cast<size_t>(-count);
        if (back > stream->offset) back = stream->offset;
        stream->offset -= back;
        return -static_cast<OPJ_OFF_T>(back);
    }
    size_t left = stream->bytes.size() - stream->offset;
    size_t n = static_cast<size_t>(count) < left ? static_cast<size_t>(count) : left;
    stream->offset += n;
    return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL streamSeek(OPJ_OFF_T position, void* user) {
    auto* stream = static_cast<MemoryStream*>(user);
    if (position < 0 || static_cast<size_t>(position) > stream->bytes.size()) return OPJ_FALSE;
    stream->offset = static_cast<size_t>(position);
    return OPJ_TRUE;
}

void recordOpenJPEGError(const char* message, void* user) {
    auto* text = static_cast<std::string*>(user);
    if (text->empty()) *text = message;
    while (!text->empty() && (text->back() == '\n' || text->back() == ' '))
        text->pop_back();
}

void ignoreOpenJPEGMessage(const char*, void*) {}

struct OpenJPEGSession {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    ~OpenJPEGSession() {
        if (image) opj_image_destroy(image);
        if (stream) opj_stream_destroy(stream);
        if (codec) opj_destroy_codec(codec);
    }
};

uint8_t toEightBits(OPJ_INT32 value, const opj_image_comp_t& component) {
    long long v = value;
    if (component.sgnd) v += 1LL << (component.prec - 1);
    long long maximum = (1LL << component.prec) - 1;
    if (v < 0) v = 0;
    if (v > maximum) v = maximum;
    if (component.prec == 8) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>((v * 255 + maximum / 2) / maximum);
}

} // namespace

namespace {

// Reads the header into the session and checks the size before anything is
// allocated for the picture; throws ImageError.
PixelSize beginJPEG2000(OpenJPEGSession& session, MemoryStream& memory, std::string& error) {
    std::string_view bytes = memory.bytes;
    bool jp2 = bytes.size() >= 12 && bytes[4] == 'j' && bytes[5] == 'P';
    session.codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (session.codec == nullptr) throw ImageError("cannot start the JPEG 2000 decoder");
    opj_set_error_handler(session.codec, recordOpenJPEGError, &error);
    opj_set_warning_handler(session.codec, ignoreOpenJPEGMessage, nullptr);
    opj_set_info_handler(session.codec, ignoreOpenJPEGMessage, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(session.codec, &parameters))
        throw ImageError("cannot set up the JPEG 2000 decoder");

    session.stream = opj_stream_create(64 * 1024, OPJ_TRUE);
    if (session.stream == nullptr) throw ImageError("cannot start the JPEG 2000 decoder");
    opj_stream_set_user_data(session.stream, &memory, nullptr);
    opj_stream_set_user_data_length(session.stream, bytes.size());
    opj_stream_set_read_function(session.stream, streamRead);
    opj_stream_set_skip_function(session.stream, streamSkip);
    opj_stream_set_seek_function(session.stream, streamSeek);

    if (!opj_read_header(session.stream, session.codec, &session.image) || session.image == nullptr) {
        throw ImageError(std::string("damaged JPEG 2000 data: ") +
                         (error.empty() ? "unreadable header" : error));
    }
    opj_image_t* image = session.image;
    long long width = static_cast<long long>(image->x1) - image->x0;
    long long height = static_cast<long long>(image->y1) - image->y0;
    if (width < 1 || height < 1) throw ImageError("JPEG 2000 image of zero size");
    checkImageSize(width, height);
    // OpenJPEG fills a short codestream out to the announced size with 32-bit
    // samples per component, so its own cap is lower (ICNS members are at most 1024).
    if (width > kMaxJPEG2000Side || height > kMaxJPEG2000Side) {
        throw ImageError("JPEG 2000 image of " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels is larger than " + std::to_string(kMaxJPEG2000Side) + " x " +
                         std::to_string(kMaxJPEG2000Side));
    }
    if (image->numcomps < 1 || image->numcomps > 4)
        throw ImageError("JPEG 2000 image with an unusual number of components");
    return {static_cast<int>(width), static_cast<int>(height)};
}

} // namespace

PixelSize jpeg2000PixelSize(std::string_view bytes) {
    MemoryStream memory{bytes, 0};
    std::string error;
    OpenJPEGSession session;
    return beginJPEG2000(session, memory, error);
}

Bitmap decodeJPEG2000(std::string_view bytes) {
    MemoryStream memory{bytes, 0};
    std::string error;
    OpenJPEGSession session;
    const PixelSize size = beginJPEG2000(session, memory, error);
    const long long width = size.width, height = size.height;
    opj_image_t* image = session.image;
    auto fail = [&](const char* what) {
        return ImageError(std::string("damaged JPEG 2000 data: ") + (error.empty() ? what : error));
    };
    if (!opj_decode(session.codec, session.stream, image) ||
        !opj_end_decompress(session.codec, session.stream)) {
        throw fail("undecodable data");
    }
    for (OPJ_UINT32 c = 0; c < image->numcomps; ++c) {
        const opj_image_comp_t& component = image->comps[c];
        if (component.data == nullptr || component.w != width || component.h != height ||
            component.prec < 1 || component.prec > 16) {
            throw ImageError("JPEG 2000 image with subsampled or unusual components");
        }
    }
    Bitmap bitmap;
    bitmap.width = static_cast<int>(width);
    bitmap.height = static_cast<int>(height);
    bitmap.pixels.resize(static_cast<size_t>(width) * height * 4);
    bool grey = image->numcomps <= 2;
    bool hasAlpha = image->numcomps == 2 || image->numcomps == 4;
    const opj_image_comp_t* comps = image->comps;
    size_t count = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < count; ++i) {
        uint8_t* out = &bitmap.pixels[i * 4];
        if (grey) {
            out[0] = out[1] = out[2] = toEightBits(comps[0].data[i], comps[0]);
        } else {
            for (int c = 0; c < 3; ++c)
                out[c] = toEightBits(comps[c].data[i], comps[c]);
        }
        out[3] = hasAlpha ? toEightBits(comps[image->numcomps - 1].data[i], comps[image->numcomps - 1]) : 255;
    }
    premultiplyRGBA(bitmap.pixels.data(), count);
    return bitmap;
}

} // namespace mivora::image
