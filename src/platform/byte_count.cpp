#include "platform/byte_count.h"

#include <array>

namespace mivora::platform {

namespace {

// Wide enough for a byte count times 200 without overflow.
__extension__ typedef unsigned __int128 Wide;

// `scaled` / 10^decimals in ASCII digits, trailing zeros dropped.
std::string figureText(uint64_t scaled, int decimals) {
    std::string digits = std::to_string(scaled);
    auto places = static_cast<size_t>(decimals);
    if (digits.size() <= places) digits = std::string(places + 1 - digits.size(), '0') + digits;
    std::string fraction = digits.substr(digits.size() - places);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    std::string whole = digits.substr(0, digits.size() - places);
    return fraction.empty() ? whole : whole + "." + fraction;
}

} // namespace

ByteCountForm byteCountForm(uint64_t bytes) {
    if (bytes == 0) return {"", 0, "Zero KB"};
    if (bytes == 1) return {"", 0, "1 byte"};
    if (bytes < 1000) return {std::to_string(bytes), 0, "bytes"};
    struct Unit {
        std::string_view name;
        int decimals;
    };
    constexpr std::array<Unit, 6> units = {
        {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};
    Wide unitSize = 1;
    for (size_t i = 0; i < units.size(); ++i) {
        unitSize *= 1000;
        Wide scale = units[i].decimals == 0 ? 1 : units[i].decimals == 1 ? 10 : 100;
        // Half up in whole numbers, so that 1,005,000,000 bytes is 1.01 GB and not a float's 1 GB.
        Wide scaled = (static_cast<Wide>(bytes) * scale * 2 + unitSize) / (unitSize * 2);
        // A figure that rounds up to 1000 reads better in the next unit: "1 MB", not "1,000 KB".
        if (scaled >= 1000 * scale && i + 1 < units.size()) continue;
        return {figureText(static_cast<uint64_t>(scaled), units[i].decimals), units[i].decimals,
                units[i].name};
    }
    return {}; // not reached: the last unit always returns
}

std::string plainByteCount(uint64_t bytes) {
    ByteCountForm form = byteCountForm(bytes);
    if (form.figure.empty()) return std::string(form.unit);
    return form.figure + " " + std::string(form.unit);
}

} // namespace mivora::platform
