// Stand-in for the system's sips, in the forms this tool uses:
//   sips -g pixelWidth -g pixelHeight <file>
//   sips -s format png [-z <pixelHeight> <pixelWidth>] <file> [--out <file>]
// Any image the image layer reads (PNG, JPEG, ICNS) is accepted as input.
#include "platform/environment.h"
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/image/canvas.h"
#include "platform/image/png.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace mivora;

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "Error: %s\n", message.c_str());
    return 1;
}

int usage() {
    std::fprintf(stderr, "Usage: sips -g pixelWidth -g pixelHeight <file>\n"
                         "       sips -s format png [-z <pixelHeight> <pixelWidth>] <file> [--out <file>]\n");
    return 2;
}

std::optional<long long> parseSize(const std::string& text) {
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    return platform::standardizePath(platform::joinPath(platform::currentDirectory(), path));
}

int printSize(const std::string& input, const std::vector<std::string>& queries, int width, int height) {
    std::printf("%s\n", input.c_str());
    for (const auto& query : queries)
        std::printf("  %s: %d\n", query.c_str(), query == "pixelWidth" ? width : height);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> queries, inputs;
    std::string format, output;
    std::optional<std::pair<std::string, std::string>> resize;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if ((argument == "-g" || argument == "--getProperty") && i + 1 < argc) {
            queries.push_back(argv[++i]);
        } else if ((argument == "-s" || argument == "--setProperty") && i + 2 < argc) {
            std::string key = argv[++i];
            std::string value = argv[++i];
            if (key != "format") return fail("setting '" + key + "' is not available here");
            format = value;
        } else if ((argument == "-z" || argument == "--resampleHeightWidth") && i + 2 < argc) {
            std::string height = argv[++i];
            resize = std::pair{height, std::string(argv[++i])};
        } else if ((argument == "--out" || argument == "-o") && i + 1 < argc) {
            output = argv[++i];
        } else if (!argument.empty() && argument[0] == '-') {
            return usage();
        } else {
            inputs.push_back(argument);
        }
    }
    if (inputs.size() != 1) return usage();
    const std::string input = absolute(inputs.front());

    if (!queries.empty()) {
        if (!format.empty() || resize) return fail("-g cannot be combined with -s or -z here");
        for (const auto& query : queries) {
            if (query != "pixelWidth" && query != "pixelHeight")
                return fail("property '" + query + "' is not available here");
        }
    } else {
        if (format.empty()) return usage();
        if (format != "png") return fail("format '" + format + "' is not available here (only png)");
    }
    auto bytes = platform::readFile(input, platform::read_limits::image);
    if (!bytes) return fail(input + ": cannot read the file");
    if (!queries.empty() && image::hasPNGSignature(*bytes)) {
        // The header holds the size: a PNG is not decoded just to print two numbers.
        // One whose header does not pass goes on to the decoder, which says why.
        try {
            const image::PixelSize size = image::pngPixelSize(*bytes);
            return printSize(input, queries, size.width, size.height);
        } catch (const image::ImageError&) {
        }
    }
    const std::string destination = output.empty() ? input : absolute(output);
    auto writeResult = [&](std::string_view result) {
        try {
            // Atomic, but not flushed to disk before the rename, as the system's own
            // tools write their output: a flush can cost more than the whole conversion.
            platform::writeFileAtomically(destination, result, std::nullopt, platform::Durability::unflushed);
        } catch (const std::exception& error) {
            return fail(error.what());
        }
        std::printf("%s\n  %s\n", input.c_str(), destination.c_str());
        return 0;
    };
    if (queries.empty() && image::hasPNGSignature(*bytes)) {
        // A whole PNG that keeps its size is its own result: it is checked, not
        // decoded. One that is not whole is encoded again from its pixels below.
        try {
            const image::PixelSize size = image::pngPixelSize(*bytes);
            const bool sameSize = !resize || (parseSize(resize->first) == size.height &&
                                              parseSize(resize->second) == size.width);
            if (sameSize && image::isWholePNG(*bytes)) return writeResult(*bytes);
        } catch (const image::ImageError& error) {
            return fail(input + ": " + error.what());
        }
    }
    image::Image picture;
    try {
        picture = image::decodeImage(*bytes);
    } catch (const image::ImageError& error) {
        return fail(input + ": " + error.what());
    }
    const image::Bitmap* best = picture.bestRepresentation();
    if (best == nullptr) return fail(input + ": the image holds no pixels");
    if (!queries.empty()) return printSize(input, queries, best->width, best->height);

    long long width = best->width, height = best->height;
    if (resize) {
        auto h = parseSize(resize->first), w = parseSize(resize->second);
        if (!h || !w)
            return fail("-z needs two whole numbers, not '" + resize->first + "' and '" + resize->second +
                        "'");
        if (*h <= 0 || *w <= 0)
            return fail("-z " + resize->first + " " + resize->second + ": a size must be above 0");
        if (*h > image::kMaxImageSide || *w > image::kMaxImageSide) {
            return fail("-z " + resize->first + " " + resize->second + ": a size must be at most " +
                        std::to_string(image::kMaxImageSide));
        }
        width = *w;
        height = *h;
    }
    std::string encoded;
    try {
        // At its own size the picture is its own drawing.
        if (width == best->width && height == best->height) return writeResult(image::encodePNG(*best));
        image::Canvas canvas(static_cast<int>(width), static_cast<int>(height));
        canvas.drawImage(picture, {0, 0, static_cast<double>(width), static_cast<double>(height)});
        encoded = image::encodePNG(canvas.bitmap());
    } catch (const std::exception& error) {
        return fail(error.what());
    }
    return writeResult(encoded);
}
