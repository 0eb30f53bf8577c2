// ICNS icon files: a flat list of members, each a 4-byte type and a 4-byte
// big-endian length (header included) followed by its data. The walker checks
// every length against the file; the members that hold pictures are decoded by
// their encoding: PNG, JPEG 2000, the "ARGB" run-length form, or the old 24-bit
// run-length members with their 8-bit masks (decoded by libicns).
#pragma once

#include "platform/image/image.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace mivora::image {

bool hasICNSSignature(std::string_view bytes);

struct IcnsMember {
    std::string type;      // four characters: "ic10", "is32", "TOC "
    std::string_view data; // the member's bytes after its 8-byte header (a view into the file)
};

// The members in file order. Throws ImageError for a file that is not ICNS, a
// length longer than what is left, a length below the 8-byte header (zero
// included) and trailing bytes too short for a header.
std::vector<IcnsMember> readIcnsMembers(std::string_view file);

// How a picture member shows in an iconset folder: "icon_<pointSide>x<pointSide>[@2x].png".
struct IcnsSlot {
    int pointSide = 0;
    int scale = 1;
    std::string iconsetFileName() const;
};

struct IcnsPicture {
    std::string type;
    IcnsSlot slot;
    Bitmap bitmap; // empty for a PNG member kept as its bytes
    // The member's own bytes when it holds a whole PNG (a view into the file),
    // so that they can be written out as they are instead of encoded again.
    std::string_view png;
};

struct IcnsContents {
    std::vector<IcnsPicture> pictures; // decoded picture members, in file order
    std::vector<std::string> problems; // one line per picture member that did not decode
};

// What decodeIcns does with a member that holds a PNG.
enum class IcnsPNGMembers {
    decode,    // into the picture's bitmap
    keepWhole, // kept as its bytes, with an empty bitmap, when it is whole (isWholePNG;
               // the largest checked on a second thread, repeated bytes once); decoded
               // like any other member when it is not (for the iconset stand-in)
};

// Decodes every picture member (masks and members that hold no picture are skipped).
// The sizes the members announce must fit kMaxImagePixels together before any
// member is examined; each is then checked before any decoder sees it (its
// picture's header, its run-length data, its mask's length), and the sizes
// found must fit too. Every step is linear in the number of members. Throws
// ImageError when the container itself is bad or the pictures are too large together.
IcnsContents decodeIcns(std::string_view file, IcnsPNGMembers pngMembers = IcnsPNGMembers::decode);

// One picture per iconset file name; where several members share a name (an
// old run-length member beside a PNG one) the preferred member type wins.
std::map<std::string, const IcnsPicture*> iconsetPictures(const IcnsContents& contents);

// The picture with the most pixels as an Image: only that member is decoded
// (the next largest when it fails); throws ImageError when none decodes.
Image decodeIcnsImage(std::string_view file);

} // namespace mivora::image
