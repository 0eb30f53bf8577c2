// The shape check made on property-list bytes before they reach the parser,
// whose recursion a deeply nested file would otherwise take past the stack, and
// which would copy a binary object once for every reference to it.
#pragma once

#include <cstddef>
#include <string_view>

namespace mivora::platform {

// Dictionaries and arrays nested deeper than this are refused; real files stay below 20.
inline constexpr size_t kMaxPropertyListNesting = 256;

// Binary form: the trailer, the offset table and every container's references lie
// inside the file, no object contains itself, nesting stays within the limit and
// the tree that shared references unfold into stays a small multiple of the
// objects stored. XML form: elements nest within the limit (a text scan that
// skips comments, processing instructions, declarations and CDATA).
// False means: do not parse.
bool hasParsableShape(std::string_view bytes);

} // namespace mivora::platform
