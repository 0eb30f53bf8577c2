#include "platform/image/icns.h"

#include <cstring>
// libicns declares its C functions without extern "C".
extern "C" {
#include <icns.h>
}

#include "platform/image/jpeg.h"
#include "platform/image/pixel_format.h"
#include "platform/image/png.h"

namespace mivora::image {

namespace {

constexpr size_t kHeaderSize = 8;

uint32_t readBigEndian32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

void appendBigEndian32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

// Member types may hold any byte; show the unprintable ones as escapes.
std::string printableType(std::string_view type) {
    std::string text;
    for (char c : type) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            text += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", u);
            text += escape;
        }
    }
    return text;
}

enum class Encoding {
    modern, // PNG, JPEG 2000 or the "ARGB" run-length form
    rle24,  // the old 24-bit run-length form with a separate 8-bit mask member
};

struct PictureType {
    const char* type;
    int pointSide;
    int scale;
    Encoding encoding;
    const char* maskType;
};

// In order of preference when two members would have the same iconset name.
constexpr PictureType kPictureTypes[] = {
    {"ic10", 512, 2, Encoding::modern, nullptr}, {"ic09", 512, 1, Encoding::modern, nullptr},
    {"ic14", 256, 2, Encoding::modern, nullptr}, {"ic08", 256, 1, Encoding::modern, nullptr},
    {"ic13", 128, 2, Encoding::modern, nullptr}, {"ic07", 128, 1, Encoding::modern, nullptr},
    {"it32", 128, 1, Encoding::rle24, "t8mk"},   {"ih32", 48, 1, Encoding::rle24, "h8mk"},
    {"ic12", 32, 2, Encoding::modern, nullptr},  {"icp6", 32, 2, Encoding::modern, nullptr},
    {"ic05", 32, 1, Encoding::modern, nullptr},  {"icp5", 32, 1, Encoding::modern, nullptr},
    {"il32", 32, 1, Encoding::rle24, "l8mk"},    {"ic11", 16, 2, Encoding::modern, nullptr},
    {"ic04", 16, 1, Encoding::modern, nullptr},  {"icp4", 16, 1, Encoding::modern, nullptr},
    {"is32", 16, 1, Encoding::rle24, "s8mk"},
};

const PictureType* pictureType(std::string_view type) {
    for (const auto& entry : kPictureTypes) {
        if (type == entry.type) return &entry;
    }
    return nullptr;
}

// The run-length form of the "ARGB" members: per channel (A, R, G, B in turn),
// a control byte below 0x80 copies the next (byte + 1) bytes, one of 0x80 or
// more repeats the next byte (byte - 125) times.
Bitmap decodeARGB(std::string_view data, int side) {
    size_t count = static_cast<size_t>(side) * side;
    std::vector<uint8_t> channels(count * 4);
    size_t in = 0;
    for (int channel = 0; channel < 4; ++channel) {
        uint8_t* out = channels.data() + channel * count;
        size_t written = 0;
        while (written < count) {
            if (in >= data.size()) throw ImageError("run-length data ends early");
            unsigned control = static_cast<unsigned char>(data[in++]);
            if (control < 0x80) {
                size_t run = control + 1;
                if (run > count - written || run > data.size() - in)
                    throw ImageError("run-length data overruns");
                std::memcpy(out + written, data.data() + in, run);
                in += run;
                written += run;
            } else {
                size_t run = control - 125;
                if (run > count - written || in >= data.size()) throw ImageError("run-length data overruns");
                std::memset(out + written, static_cast<unsigned char>(data[in++]), run);
                written += run;
            }
        }
    }
    Bitmap bitmap;
    bitmap.width = bitmap.height = side;
    bitmap.pixels.resize(count * 4);
    for (size_t i = 0; i < count; ++i) {
        bitmap.pixels[i * 4 + 0] = channels[count + i];
        bitmap.pixels[i * 4 + 1] = channels[2 * count + i];
        bitmap.pixels[i * 4 + 2] = channels[3 * count + i];
        bitmap.pixels[i * 4 + 3] = channels[i];
    }
    premultiplyRGBA(bitmap.pixels.data(), count);
    return bitmap;
}

Bitmap decodeModern(std::string_view data, int side) {
    if (hasPNGSignature(data)) return decodePNG(data);
    if (hasJPEG2000Signature(data)) return decodeJPEG2000(data);
    if (data.substr(0, 4) == "ARGB") return decodeARGB(data.substr(4), side);
    throw ImageError("data is neither PNG, JPEG 2000 nor ARGB");
}

icns_type_t typeCode(std::string_view type) {
    return readBigEndian32(type.data());
}

struct FamilyOwner {
    icns_family_t* family = nullptr;
    ~FamilyOwner() { std::free(family); }
};

struct ImageOwner {
    icns_image_t image{};
    ~ImageOwner() { icns_free_image(&image); }
};

// A one-member family (plus its mask when there is one) handed to libicns.
Bitmap decodeRLE24(const IcnsMember& member, const IcnsMember* mask, int side) {
    icns_set_print_errors(0);
    std::string family = "icns";
    size_t total =
        kHeaderSize + kHeaderSize + member.data.size() + (mask ? kHeaderSize + mask->data.size() : 0);
    appendBigEndian32(family, static_cast<uint32_t>(total));
    for (const IcnsMember* part : {&member, mask}) {
        if (part == nullptr) continue;
        family += part->type;
        appendBigEndian32(family, static_cast<uint32_t>(kHeaderSize + part->data.size()));
        family.append(part->data);
    }
    FamilyOwner owner;
    if (icns_import_family_data(static_cast<icns_size_t>(family.size()),
                                reinterpret_cast<icns_byte_t*>(family.data()),
                                &owner.family) != ICNS_STATUS_OK) {
        throw ImageError("libicns cannot read the member");
    }
    ImageOwner decoded;
    int status = ICNS_STATUS_OK;
    if (mask) {
        status = icns_get_image32_with_mask_from_family(owner.family, typeCode(member.type), &decoded.image);
    } else {
        icns_element_t* element = nullptr;
        status = icns_get_element_from_family(owner.family, typeCode(member.type), &element);
        if (status == ICNS_STATUS_OK) {
            status = icns_get_image_from_element(element, &decoded.image);
            std::free(element);
        }
    }
    const icns_image_t& image = decoded.image;
    if (status != ICNS_STATUS_OK || image.imageData == nullptr)
        throw ImageError("libicns cannot decode the member");
    if (static_cast<int>(image.imageWidth) != side || static_cast<int>(image.imageHeight) != side ||
        image.imageChannels != 4 || image.imagePixelDepth != 8 ||
        image.imageDataSize != static_cast<icns_uint64_t>(side) * side * 4) {
        throw ImageError("libicns decoded the member to an unexpected shape");
    }
    Bitmap bitmap;
    bitmap.width = bitmap.height = side;
    bitmap.pixels.assign(image.imageData, image.imageData + image.imageDataSize);
    // Without a mask the old members are opaque.
    if (!mask) {
        for (size_t i = 3; i < bitmap.pixels.size(); i += 4)
            bitmap.pixels[i] = 255;
    }
    premultiplyRGBA(bitmap.pixels.data(), static_cast<size_t>(side) * side);
    return bitmap;
}

} // namespace

bool hasICNSSignature(std::string_view bytes) {
    return bytes.size() >= 4 && bytes.substr(0, 4) == "icns";
}

std::string IcnsSlot::iconsetFileName() const {
    std::string side = std::to_string(pointSide);
    return "icon_" + side + "x" + side + (scale == 2 ? "@2x" : "") + ".png";
}

std::vector<IcnsMember> readIcnsMembers(std::string_view file) {
    if (file.size() < kHeaderSize || !hasICNSSignature(file)) throw ImageError("not an ICNS file");
    uint32_t declared = readBigEndian32(file.data() + 4);
    if (declared < kHeaderSize)
        throw ImageError("ICNS header declares an impossible length of " + std::to_string(declared));
    if (declared > file.size()) {
        throw ImageError("ICNS file is truncated: it declares " + std::to_string(declared) +
                         " bytes and holds " + std::to_string(file.size()));
    }
    std::string_view body = file.substr(kHeaderSize, declared - kHeaderSize);
    std::vector<IcnsMember> members;
    size_t offset = 0;
    while (offset < body.size()) {
        size_t left = body.size() - offset;
        if (left < kHeaderSize) throw ImageError("ICNS file ends inside a member header");
        std::string_view type = body.substr(offset, 4);
        uint32_t length = readBigEndian32(body.data() + offset + 4);
        if (length < kHeaderSize) {
            throw ImageError("ICNS member '" + printableType(type) + "' declares an impossible length of " +
                             std::to_string(length));
        }
        if (length > left) {
            throw ImageError("ICNS member '" + printableType(type) + "' declares " + std::to_string(length) +
                             " bytes but only " + std::to_string(left) + " are left");
        }
        members.push_back({std::string(type), body.substr(offset + kHeaderSize, length - kHeaderSize)});
        offset += length;
    }
    return members;
}

IcnsContents decodeIcns(std::string_view file) {
    std::vector<IcnsMember> members = readIcnsMembers(file);
    IcnsContents contents;
    for (const IcnsMember& member : members) {
        const PictureType* kind = pictureType(member.type);
        if (kind == nullptr) continue;
        int side = kind->pointSide * kind->scale;
        try {
            Bitmap bitmap;
            if (kind->encoding == Encoding::modern) {
                bitmap = decodeModern(member.data, side);
            } else {
                const IcnsMember* mask = nullptr;
                for (const IcnsMember& other : members) {
                    if (other.type == kind->maskType) mask = &other;
                }
                bitmap = decodeRLE24(member, mask, side);
            }
            std::string_view png = kind->encoding == Encoding::modern && hasPNGSignature(member.data)
                                       ? member.data
                                       : std::string_view();
            contents.pictures.push_back(
                {member.type, {kind->pointSide, kind->scale}, std::move(bitmap), png});
        } catch (const ImageError& error) {
            contents.problems.push_back("member '" + member.type + "': " + error.what());
        }
    }
    return contents;
}

std::map<std::string, const IcnsPicture*> iconsetPictures(const IcnsContents& contents) {
    auto preference = [](const std::string& type) {
        const PictureType* kind = pictureType(type);
        return kind ? kind - kPictureTypes : std::ssize(kPictureTypes);
    };
    std::map<std::string, const IcnsPicture*> chosen;
    for (const auto& picture : contents.pictures) {
        const IcnsPicture*& slot = chosen[picture.slot.iconsetFileName()];
        if (slot == nullptr || preference(picture.type) < preference(slot->type)) slot = &picture;
    }
    return chosen;
}

Image decodeIcnsImage(std::string_view file) {
    IcnsContents contents = decodeIcns(file);
    if (contents.pictures.empty()) {
        std::string reason = "ICNS file holds no picture that can be decoded";
        if (!contents.problems.empty()) reason += " (" + contents.problems.front() + ")";
        throw ImageError(reason);
    }
    std::vector<Bitmap> bitmaps;
    for (auto& picture : contents.pictures)
        bitmaps.push_back(std::move(picture.bitmap));
    return Image(std::move(bitmaps));
}

} // namespace mivora::image
