// Stand-in for the system's iconutil, in the one form this tool uses:
//   iconutil -c iconset <file.icns> [-o <folder>]
// writes every picture member of the ICNS file as icon_<w>x<h>[@2x].png (a PNG
// member byte for byte when it is whole, any other member, a PNG that is not
// whole included, encoded as PNG from its pixels).
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/image/icns.h"
#include "platform/image/png.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace mivora;

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "iconutil: %s\n", message.c_str());
    return 1;
}

int usage() {
    std::fprintf(stderr, "Usage: iconutil -c iconset <file.icns> [-o <folder.iconset>]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string conversion, input, output;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if ((argument == "-c" || argument == "--convert") && i + 1 < argc) {
            conversion = argv[++i];
        } else if ((argument == "-o" || argument == "--output") && i + 1 < argc) {
            output = argv[++i];
        } else if (!argument.empty() && argument[0] == '-') {
            return usage();
        } else if (input.empty()) {
            input = argument;
        } else {
            return usage();
        }
    }
    if (conversion.empty() || input.empty()) return usage();
    if (conversion != "iconset")
        return fail("only '-c iconset' is available here, not '-c " + conversion + "'");
    if (output.empty()) output = platform::deletingPathExtension(input) + ".iconset";

    auto bytes = platform::readFile(input, platform::read_limits::image);
    if (!bytes) return fail(input + ": cannot read the file");
    image::IcnsContents contents;
    try {
        // Whole PNG members are written as they are, so they are only checked, not decoded.
        contents = image::decodeIcns(*bytes, image::IcnsPNGMembers::keepWhole);
    } catch (const image::ImageError& error) {
        return fail(input + ": " + error.what());
    }
    for (const auto& problem : contents.problems) {
        std::fprintf(stderr, "iconutil: %s: skipped %s\n", input.c_str(), problem.c_str());
    }

    auto chosen = image::iconsetPictures(contents);
    if (chosen.empty()) return fail(input + ": holds no picture that can be decoded");
    try {
        platform::createDirectories(output);
        for (const auto& [name, picture] : chosen) {
            // A whole PNG member is written as it is; others are encoded.
            std::string encoded;
            std::string_view member = picture->png;
            if (member.empty()) member = encoded = image::encodePNG(picture->bitmap);
            // Not flushed to disk one by one: an iconset is read once and thrown away.
            platform::writeFileAtomically(platform::joinPath(output, name), member, std::nullopt,
                                          platform::Durability::unflushed);
        }
    } catch (const std::exception& error) {
        return fail(error.what());
    }
    return 0;
}
