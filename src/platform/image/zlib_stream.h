// The compressed stream inside the PNGs we write: one zlib stream (deflate with
// a 32 KiB window and an Adler-32 check), compressed in pieces on several
// threads and joined the way parallel compressors join theirs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace mivora::image {

// `size` bytes as one standard zlib stream. Large inputs are cut into pieces
// compressed side by side, each ending on a byte boundary with an empty stored
// block (a sync flush) so that the pieces read as one stream; a piece that does
// not shrink is stored as it is.
std::string zlibCompress(const uint8_t* data, size_t size);
// zlibCompress as a machine of the given byte order runs it (byte_order.h):
// the very same stream on either, which the tests check on this machine.
std::string zlibCompressInByteOrder(std::endian order, const uint8_t* data, size_t size);

// Gives the bytes of one piece of the input: a view of them, either of bytes
// held elsewhere or of `scratch`, which it may fill. Called once per piece, on
// any thread, several pieces at a time.
using ZlibPieceSource = std::function<std::span<const uint8_t>(size_t piece, std::vector<uint8_t>& scratch)>;

// The input made of pieces 0 .. pieces - 1, in that order, as one zlib stream:
// each piece is made and compressed on one of the threads, so that a caller
// that builds its input piece by piece never holds the whole of it. Pieces are
// expected to be about 256 KiB each: more threads are used only for inputs of
// several MiB, where they pay for their start.
std::string zlibCompressPieces(size_t pieces, const ZlibPieceSource& source);

// Huffman code lengths for symbols of these frequencies (0 for a symbol that
// never occurs), none longer than `limit`, forming a complete code; at least
// two frequencies must be above 0.
std::vector<uint8_t> huffmanCodeLengths(const std::vector<uint32_t>& frequencies, int limit);

} // namespace mivora::image
