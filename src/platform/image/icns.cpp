#include "platform/image/icns.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>
#include <optional>
#include <unordered_map>
// libicns declares its C functions without extern "C".
extern "C" {
#include <icns.h>
}

#include "platform/image/byte_order.h"
#include "platform/image/jpeg2000.h"
#include "platform/image/pixel_format.h"
#include "platform/image/png.h"
#include "platform/parallel_work.h"

namespace mivora::image {

namespace {

constexpr size_t kHeaderSize = 8;

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

// The run-length form of the old members and of the "ARGB" ones: per channel in
// turn, a control byte below 0x80 copies the next (byte + 1) bytes, one of 0x80
// or more repeats the next byte (byte - 125) times. Unpacks `channels` planes of
// `count` bytes into `out`, or, without `out`, only checks that the data holds
// exactly that: no run crosses a plane and nothing is read past the data.
void unpackRunLength(std::string_view data, int channels, size_t count, uint8_t* out) {
    size_t in = 0;
    for (int channel = 0; channel < channels; ++channel) {
        size_t written = 0;
        while (written < count) {
            if (in >= data.size()) throw ImageError("run-length data ends early");
            unsigned control = static_cast<unsigned char>(data[in++]);
            if (control < 0x80) {
                size_t run = control + 1;
                if (run > count - written) throw ImageError("run-length data overruns");
                if (run > data.size() - in) throw ImageError("run-length data ends early");
                if (out) std::memcpy(out + channel * count + written, data.data() + in, run);
                in += run;
                written += run;
            } else {
                size_t run = control - 125;
                if (run > count - written) throw ImageError("run-length data overruns");
                if (in >= data.size()) throw ImageError("run-length data ends early");
                if (out)
                    std::memset(out + channel * count + written, static_cast<unsigned char>(data[in]), run);
                ++in;
                written += run;
            }
        }
    }
}

Bitmap decodeARGB(std::string_view data, int side) {
    size_t count = static_cast<size_t>(side) * side;
    std::vector<uint8_t> channels(count * 4);
    unpackRunLength(data, 4, count, channels.data());
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
    return decodeARGB(data.substr(4), side);
}

icns_type_t typeCode(std::string_view type) {
    return bigEndian32(type.data());
}

struct FamilyOwner {
    icns_family_t* family = nullptr;
    ~FamilyOwner() { std::free(family); }
};

struct ImageOwner {
    icns_image_t image{};
    ~ImageOwner() { icns_free_image(&image); }
};

// A one-member family (plus its mask when there is one) handed to libicns, only
// after examine() has checked the run-length data and the mask's length: its
// readers trust the lengths they are given.
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

// A picture member that passed every check that needs no decoding, with the
// size that decoding it will give.
struct Candidate {
    size_t index = 0; // in file order
    const IcnsMember* member = nullptr;
    const PictureType* kind = nullptr;
    const IcnsMember* mask = nullptr; // the old run-length members only
    PixelSize size;
};

// The mask members, the last of each type: the old run-length members take
// theirs from here, looked up once per type rather than once per member.
class Masks {
public:
    explicit Masks(const std::vector<IcnsMember>& members) {
        for (const IcnsMember& member : members) {
            for (size_t i = 0; i < std::size(kMaskTypes); ++i) {
                if (member.type == kMaskTypes[i]) last_[i] = &member;
            }
        }
    }
    const IcnsMember* of(const char* type) const {
        for (size_t i = 0; i < std::size(kMaskTypes); ++i) {
            if (type != nullptr && std::string_view(type) == kMaskTypes[i]) return last_[i];
        }
        return nullptr;
    }

private:
    static constexpr const char* kMaskTypes[] = {"s8mk", "l8mk", "h8mk", "t8mk"};
    const IcnsMember* last_[std::size(kMaskTypes)] = {};
};

// The size a picture member announces, read without any decoder: from its
// type for the run-length forms, from the header at its place for a PNG (0
// where there is none to read, for one beyond the caps on its own, and for
// JPEG 2000, whose header takes a decoder).
long long announcedPixels(const IcnsMember& member, const PictureType& kind) {
    const long long side = kind.pointSide * kind.scale;
    const std::string_view data = member.data;
    if (kind.encoding == Encoding::rle24 || data.substr(0, 4) == "ARGB") return side * side;
    if (hasPNGSignature(data) && data.size() >= 24 && data.substr(12, 4) == "IHDR") {
        const long long width = bigEndian32(data.data() + 16), height = bigEndian32(data.data() + 20);
        // One beyond the caps on its own is refused by itself, not counted.
        return imageSizeProblem(width, height) ? 0 : width * height;
    }
    return 0;
}

// Checks a picture member without decoding it: the embedded picture's header
// and size caps, the run-length data of the "ARGB" and old members (it must
// unpack to exactly the member's side), and the old members' mask length.
// Throws ImageError.
Candidate examine(size_t index, const IcnsMember& member, const PictureType& kind, const Masks& masks) {
    Candidate candidate{index, &member, &kind, nullptr, {}};
    const int side = kind.pointSide * kind.scale;
    const size_t count = static_cast<size_t>(side) * side;
    std::string_view data = member.data;
    if (kind.encoding == Encoding::modern) {
        if (hasPNGSignature(data)) {
            candidate.size = pngPixelSize(data);
        } else if (hasJPEG2000Signature(data)) {
            candidate.size = jpeg2000PixelSize(data);
        } else if (data.substr(0, 4) == "ARGB") {
            unpackRunLength(data.substr(4), 4, count, nullptr);
            candidate.size = {side, side};
        } else {
            throw ImageError("data is neither PNG, JPEG 2000 nor ARGB");
        }
        return candidate;
    }
    // "it32" data starts with four bytes of zeros.
    if (member.type == "it32") {
        if (data.size() < 4) throw ImageError("run-length data ends early");
        data.remove_prefix(4);
    }
    unpackRunLength(data, 3, count, nullptr);
    candidate.mask = masks.of(kind.maskType);
    if (candidate.mask && candidate.mask->data.size() != count) {
        throw ImageError("its mask '" + candidate.mask->type + "' holds " +
                         std::to_string(candidate.mask->data.size()) + " bytes, not the " +
                         std::to_string(count) + " of a " + std::to_string(side) + " x " +
                         std::to_string(side) + " mask");
    }
    candidate.size = {side, side};
    return candidate;
}

struct Examined {
    std::vector<Candidate> candidates; // in file order
    std::vector<std::pair<size_t, std::string>> problems;
};

// With `wholeFile`, the pictures announced together must fit the pixel
// budget before any member is examined (a file of a million tiny members is
// refused at once), and so must the sizes the examination finds.
Examined examineMembers(const std::vector<IcnsMember>& members, bool wholeFile) {
    if (wholeFile) {
        long long announced = 0;
        for (const IcnsMember& member : members) {
            if (const PictureType* kind = pictureType(member.type))
                announced += announcedPixels(member, *kind);
        }
        checkPixelBudget(announced);
    }
    const Masks masks(members);
    Examined examined;
    for (size_t i = 0; i < members.size(); ++i) {
        const PictureType* kind = pictureType(members[i].type);
        if (kind == nullptr) continue;
        try {
            examined.candidates.push_back(examine(i, members[i], *kind, masks));
        } catch (const ImageError& error) {
            examined.problems.emplace_back(i, "member '" + printableType(members[i].type) +
                                                  "': " + error.what());
        }
    }
    if (wholeFile) {
        long long pixels = 0;
        for (const Candidate& candidate : examined.candidates)
            pixels += candidate.size.area();
        checkPixelBudget(pixels);
    }
    return examined;
}

Bitmap decodeCandidate(const Candidate& candidate) {
    const int side = candidate.kind->pointSide * candidate.kind->scale;
    if (candidate.kind->encoding == Encoding::modern) return decodeModern(candidate.member->data, side);
    return decodeRLE24(*candidate.member, candidate.mask, side);
}

// The member's bytes when it holds a PNG.
std::string_view pngData(const Candidate& candidate) {
    const std::string_view data = candidate.member->data;
    return candidate.kind->encoding == Encoding::modern && hasPNGSignature(data) ? data : std::string_view();
}

constexpr uint64_t kPixelBytesWorthAThread = 1 << 20;

// Which PNG members may be kept as their bytes (isWholePNG): the largest
// checked on a thread of its own (where the others are worth one, and the
// process may use a second processor), the others meanwhile on this one, one
// after another in one reused buffer (a check is mostly one inflate, and the
// largest member holds about as much as all the others together). One verdict
// per candidate; false where it holds no PNG.
std::vector<bool> wholePNGMembers(const std::vector<Candidate>& candidates) {
    // Largest first, so that the shared buffer is the right size from the start.
    std::vector<size_t> order;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (!pngData(candidates[i]).empty()) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return candidates[a].size.area() > candidates[b].size.area();
    });
    // A member that holds the very bytes of an earlier one (icon files often
    // repeat the 512-pixel picture as the 256-pixel one at double density) is
    // checked once and shares its verdict; repeats are found by hashing.
    std::vector<size_t> sameAs(candidates.size());
    std::vector<size_t> distinct;
    std::unordered_map<std::string_view, size_t> firstWithBytes;
    firstWithBytes.reserve(order.size());
    for (size_t i : order) {
        const auto [first, inserted] = firstWithBytes.try_emplace(pngData(candidates[i]), i);
        sameAs[i] = first->second;
        if (inserted) distinct.push_back(i);
    }
    std::vector<char> whole(candidates.size(), 0);
    InflateBuffer largestBuffer, buffer;
    // The second thread only where the others hold at least 1 MiB of pixels
    // (about 1 ms of inflating, against 0.1 ms for a thread's start and join).
    uint64_t otherPixels = 0;
    for (size_t k = 1; k < distinct.size(); ++k)
        otherPixels += candidates[distinct[k]].size.area();
    std::optional<platform::BackgroundWork> helper;
    auto checkLargest = [&] {
        whole[distinct.front()] = isWholePNG(pngData(candidates[distinct.front()]), largestBuffer);
    };
    if (otherPixels * 4 >= kPixelBytesWorthAThread)
        helper.emplace(checkLargest);
    else if (!distinct.empty())
        checkLargest();
    for (size_t k = 1; k < distinct.size(); ++k)
        whole[distinct[k]] = isWholePNG(pngData(candidates[distinct[k]]), buffer);
    if (helper) helper->wait();
    std::vector<bool> verdicts(candidates.size(), false);
    for (size_t i : order)
        verdicts[i] = whole[sameAs[i]] != 0;
    return verdicts;
}

std::string problemText(const Candidate& candidate, const ImageError& error) {
    return "member '" + printableType(candidate.member->type) + "': " + error.what();
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
    uint32_t declared = bigEndian32(file.data() + 4);
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
        uint32_t length = bigEndian32(body.data() + offset + 4);
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

IcnsContents decodeIcns(std::string_view file, IcnsPNGMembers pngMembers) {
    const std::vector<IcnsMember> members = readIcnsMembers(file);
    // Every picture is decoded: their sizes together must fit before the first is.
    Examined examined = examineMembers(members, true);
    const std::vector<bool> whole = pngMembers == IcnsPNGMembers::keepWhole
                                        ? wholePNGMembers(examined.candidates)
                                        : std::vector<bool>(examined.candidates.size(), false);
    IcnsContents contents;
    for (size_t i = 0; i < examined.candidates.size(); ++i) {
        const Candidate& candidate = examined.candidates[i];
        try {
            // A PNG member that is whole is kept as its bytes; any other is decoded.
            const std::string_view png = whole[i] ? pngData(candidate) : std::string_view();
            Bitmap bitmap;
            if (png.empty()) bitmap = decodeCandidate(candidate);
            contents.pictures.push_back({candidate.member->type,
                                         {candidate.kind->pointSide, candidate.kind->scale},
                                         std::move(bitmap),
                                         png});
        } catch (const ImageError& error) {
            examined.problems.emplace_back(candidate.index, problemText(candidate, error));
        }
    }
    std::stable_sort(examined.problems.begin(), examined.problems.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& problem : examined.problems)
        contents.problems.push_back(std::move(problem.second));
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
    const std::vector<IcnsMember> members = readIcnsMembers(file);
    Examined examined = examineMembers(members, false);
    // Drawing uses the picture with the most pixels, so only that one is
    // decoded; the next largest only when it fails.
    std::vector<Candidate>& candidates = examined.candidates;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.size.area() > b.size.area(); });
    std::string firstProblem = examined.problems.empty() ? "" : examined.problems.front().second;
    long long pixels = 0;
    for (const Candidate& candidate : candidates) {
        pixels += candidate.size.area();
        checkPixelBudget(pixels);
        try {
            return Image(decodeCandidate(candidate));
        } catch (const ImageError& error) {
            if (firstProblem.empty()) firstProblem = problemText(candidate, error);
        }
    }
    std::string reason = "ICNS file holds no picture that can be decoded";
    if (!firstProblem.empty()) reason += " (" + firstProblem + ")";
    throw ImageError(reason);
}

} // namespace mivora::image
