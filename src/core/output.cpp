#include "core/output.h"

#include "core/text.h"

#include <cstdio>
#include <string>

namespace mivora::core {

namespace {

// Whatever a command composes from outside text, what it prints is valid UTF-8.
void write(std::FILE* stream, std::string_view text) {
    if (isValidUTF8(text)) {
        std::fwrite(text.data(), 1, text.size(), stream);
    } else {
        std::string repaired = validUTF8(text);
        std::fwrite(repaired.data(), 1, repaired.size(), stream);
    }
}

} // namespace

void printText(std::string_view text) {
    write(stdout, text);
    std::fflush(stdout);
}

void printLine(std::string_view line) {
    write(stdout, line);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printErrorText(std::string_view text) {
    write(stderr, text);
    std::fflush(stderr);
}

} // namespace mivora::core
