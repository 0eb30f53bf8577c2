// Whether deflate data keeps to the format as zlib holds readers to it. The
// direct PNG reader inflates with libdeflate, which also reads a few things the
// format reserves; a PNG kept as its bytes must read in every reader, so its
// image data goes through this check as well.
#pragma once

#include <string_view>

namespace mivora::image {

// For deflate data (the blocks after a zlib header; what follows the final
// block is not looked at) that libdeflate reads: true when zlib reads it too.
// False for a block header announcing more than 286 length or 30 distance
// symbols, a reserved symbol (286, 287; distance 30, 31) in a block of fixed
// codes, a code-length code that is not complete, a length or distance code
// that is neither complete nor a single one-bit code ("0"; the unused "1" is
// read as an error), a distance asked of an empty distance code, a repeat with
// no length before it or beyond the symbols, a missing end-of-block code, and
// for data that ends early or is not deflate at all. Reads every symbol, never
// the output: the work grows with the compressed size only.
bool conformingDeflate(std::string_view data);

} // namespace mivora::image
