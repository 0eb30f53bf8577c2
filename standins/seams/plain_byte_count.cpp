// The stand-ins' side of byteCountText: sizes in messages in the plain form,
// without ICU and its data.
#include "platform/byte_count.h"

namespace mivora::platform {

std::string byteCountText(uint64_t bytes) {
    return plainByteCount(bytes);
}

} // namespace mivora::platform
