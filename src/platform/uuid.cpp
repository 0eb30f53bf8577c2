#include "platform/uuid.h"

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/random.h>

namespace mivora::platform {

std::string newUUIDString() {
    uint8_t bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got < sizeof bytes) {
        std::random_device device;
        for (auto& byte : bytes) byte = static_cast<uint8_t>(device());
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                  bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

} // namespace mivora::platform
