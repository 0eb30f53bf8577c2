#include "icons/icon_extraction.h"

#include "core/containment.h"
#include "core/shell.h"
#include "core/text.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace mivora::icons {

namespace {

constexpr double kShellTimeout = 15;

// A decimal integer with an optional sign, nothing else; nothing when it does not fit.
std::optional<int64_t> parseInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string> entriesWithExtension(const std::string& folder, const std::string& extension) {
    std::vector<std::string> names;
    for (const auto& name : platform::listDirectory(folder).value_or(std::vector<std::string>{})) {
        if (core::lowercased(platform::pathExtension(name)) == extension) names.push_back(name);
    }
    return names;
}

// Whether the character at `offset` is a decimal digit (Unicode category Nd);
// its length in bytes, or 0. Ill-formed UTF-8 is no digit.
size_t digitLength(std::string_view text, size_t offset) {
    const auto byte = static_cast<unsigned char>(text[offset]);
    if (byte < 0x80) return byte >= '0' && byte <= '9' ? 1 : 0;
    int32_t index = static_cast<int32_t>(offset);
    UChar32 c = 0;
    // ICU's decoding macro narrows inside its own arithmetic.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), index, static_cast<int32_t>(text.size()), c);
#pragma GCC diagnostic pop
    return c >= 0 && u_charType(c) == U_DECIMAL_DIGIT_NUMBER ? static_cast<size_t>(index) - offset : 0;
}

// The end of the run of digits that starts at `offset`.
size_t digitsEnd(std::string_view text, size_t offset) {
    while (offset < text.size()) {
        const size_t length = digitLength(text, offset);
        if (length == 0) break;
        offset += length;
    }
    return offset;
}

// The two groups of the leftmost match of "(\d+)x(\d+)". A greedy run of digits
// can only be followed by the "x" at its end, so each run of digits is tried
// once, from its first digit.
std::optional<std::pair<std::string_view, std::string_view>> firstWidthByHeight(std::string_view name) {
    size_t offset = 0;
    while (offset < name.size()) {
        const size_t end = digitsEnd(name, offset);
        if (end == offset) {
            // Step over one character (or one stray byte).
            ++offset;
            while (offset < name.size() && (static_cast<unsigned char>(name[offset]) & 0xC0) == 0x80)
                ++offset;
            continue;
        }
        if (end + 1 < name.size() && name[end] == 'x' && digitLength(name, end + 1) > 0) {
            const size_t heightEnd = digitsEnd(name, end + 1);
            return std::pair{name.substr(offset, end - offset), name.substr(end + 1, heightEnd - end - 1)};
        }
        offset = end;
    }
    return std::nullopt;
}

// Removes the folder however the extraction ends.
struct TemporaryFolder {
    std::string path;
    ~TemporaryFolder() { platform::removeItemQuietly(path); }
};

} // namespace

core::Json ExtractedIcon::toJson() const {
    core::Json json;
    json["app"] = app.toJson();
    json["sourceIcns"] = sourceIcns;
    json["outputPath"] = outputPath;
    json["width"] = width;
    json["height"] = height;
    return json;
}

ExtractedIcon ExtractedIcon::fromJson(const core::Json& json) {
    ExtractedIcon icon;
    icon.app = apps::InstalledApp::fromJson(json.at("app"));
    icon.sourceIcns = json.at("sourceIcns").get<std::string>();
    icon.outputPath = json.at("outputPath").get<std::string>();
    icon.width = json.at("width").get<int64_t>();
    icon.height = json.at("height").get<int64_t>();
    return icon;
}

std::optional<std::string> bundleIconFile(const std::string& appPath, const std::string& path) {
    return core::resolvedFileInside(path, appPath);
}

std::string findAppIcns(const std::string& appPath) {
    auto info = apps::readInfoPlist(appPath);
    if (!info) throw IconExtractionError::iconNotFound("Cannot read Info.plist");
    const std::string resources = platform::joinPath(appPath, "Contents/Resources");
    if (auto name = info->view()["CFBundleIconFile"].string()) {
        std::string fileName = core::endsWith(*name, ".icns") ? *name : *name + ".icns";
        if (auto file = bundleIconFile(appPath, platform::joinPath(resources, fileName))) return *file;
    }
    auto names = entriesWithExtension(resources, "icns");
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        if (auto file = bundleIconFile(appPath, platform::joinPath(resources, name))) return *file;
    }
    throw IconExtractionError::iconNotFound("No .icns file found in app bundle");
}

int64_t iconSizeFromFileName(const std::string& name) {
    // The first match of "(\d+)x(\d+)", where \d is any decimal digit, as in the
    // platform's regular expressions; only ASCII digits then parse.
    auto match = firstWidthByHeight(name);
    if (!match) return 0;
    const auto& [widthText, heightText] = *match;
    auto width = parseInteger(widthText), height = parseInteger(heightText);
    if (!width || !height) return 0;
    const int64_t scale = core::contains(name, "@2x") ? 2 : 1;
    int64_t scaledWidth = 0, scaledHeight = 0, area = 0;
    if (__builtin_mul_overflow(*width, scale, &scaledWidth) ||
        __builtin_mul_overflow(*height, scale, &scaledHeight) ||
        __builtin_mul_overflow(scaledWidth, scaledHeight, &area)) {
        return 0;
    }
    return area;
}

std::optional<std::string> largestIconsetPNG(const std::string& iconsetPath) {
    auto names = entriesWithExtension(iconsetPath, "png");
    if (names.empty()) return std::nullopt;
    std::vector<std::pair<int64_t, std::string>> sized;
    for (auto& name : names)
        sized.emplace_back(iconSizeFromFileName(name), std::move(name));
    std::stable_sort(sized.begin(), sized.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    return platform::joinPath(iconsetPath, sized.front().second);
}

std::pair<int64_t, int64_t> readPixelSize(const std::string& filePath) {
    std::string output = core::runShell(
        "sips -g pixelWidth -g pixelHeight " + core::shellQuote(filePath) + " 2>/dev/null", kShellTimeout);
    int64_t width = 0, height = 0;
    for (const auto& line : core::splitString(output, '\n', true)) {
        for (auto [key, target] : {std::pair{"pixelWidth:", &width}, std::pair{"pixelHeight:", &height}}) {
            if (!core::contains(line, key)) continue;
            auto pieces = core::splitString(line, ':', true);
            auto value = pieces.empty() ? std::nullopt : parseInteger(core::trimWhitespace(pieces.back()));
            *target = value.value_or(0);
        }
    }
    return {width, height};
}

ExtractedIcon extractAppIcon(const apps::InstalledApp& app, const std::string& outputPath, int64_t size) {
    const std::string icns = findAppIcns(app.path);
    platform::createDirectories(platform::parentPath(outputPath));
    TemporaryFolder temporary{platform::newTemporaryPath("mivora-extract-")};
    platform::createDirectories(temporary.path);
    const std::string iconset = temporary.path + "/icon.iconset";
    core::runShell("iconutil -c iconset " + core::shellQuote(icns) + " -o " + core::shellQuote(iconset),
                   kShellTimeout);
    const std::string source = largestIconsetPNG(iconset).value_or(icns);
    const std::string side = std::to_string(size);
    // Through a temporary file of ours: the output is the whole new image or, on
    // a failure, whatever was there before. Not flushed, as sips itself writes.
    platform::writeFileThrough(
        outputPath,
        [&](const std::string& output) {
            core::runShell("sips -s format png -z " + side + " " + side + " " + core::shellQuote(source) +
                               " --out " + core::shellQuote(output) + " >/dev/null",
                           kShellTimeout);
        },
        std::nullopt, platform::Durability::unflushed);
    auto [width, height] = readPixelSize(outputPath);
    return ExtractedIcon{app, icns, outputPath, width, height};
}

} // namespace mivora::icons
