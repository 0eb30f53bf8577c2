#include "platform/image/jpeg2000.h"

#include "platform/image/pixel_format.h"

#include <cstring>
#include <openjpeg.h>
#include <string>

namespace mivora::image {

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
