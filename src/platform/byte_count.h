// A size in the file style, apart from how its figure is written: decimal units
// of 1000; "Zero KB", "1 byte", "<n> bytes" below 1000, then KB without decimals,
// MB with at most one, GB and larger with at most two (rounded half up, trailing
// zeros dropped). Nothing here needs locale data, so every program can use it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mivora::platform {

struct ByteCountForm {
    // ASCII digits, with "." before any decimals and trailing zeros dropped
    // ("1.5"); empty for the fixed texts "Zero KB" and "1 byte".
    std::string figure;
    // The most decimals the unit shows.
    int decimals = 0;
    // "bytes", "KB", "MB", ...; the whole text when `figure` is empty.
    std::string_view unit;
};

ByteCountForm byteCountForm(uint64_t bytes);

// The form written plainly ("1.5 MB"): what formatByteCount gives for no locale.
std::string plainByteCount(uint64_t bytes);

// How a size reads in this program's messages ("larger than 128 MB, the limit
// for an image"). Each program links one definition: the tool's, in
// formatting.cpp, is formatByteCount in the user's locale; the stand-ins', in
// standins/seams/, is plainByteCount, as they carry no locale data (ICU's would
// make each stand-in some 31 MB larger). The stand-ins' definition is an object
// file, linked before any library is searched, so formatting.cpp is never
// pulled in for it; a stand-in that needed formatting.cpp for something else
// would fail to link with two definitions rather than choose one silently.
std::string byteCountText(uint64_t bytes);

} // namespace mivora::platform
