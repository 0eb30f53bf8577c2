#include "core/base64.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace mivora::core {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int8_t kNotInAlphabet = -1;

constexpr std::array<int8_t, 256> decodingTable() {
    std::array<int8_t, 256> table{};
    for (auto& value : table)
        value = kNotInAlphabet;
    for (size_t i = 0; i < kAlphabet.size(); ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}
constexpr auto kDecoding = decodingTable();

bool isWhiteSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// How a stray character is named in a problem: printable ASCII as itself, anything else by its byte value.
std::string describeCharacter(unsigned char c) {
    if (c >= 0x21 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "byte 0x%02X", c);
    return buffer;
}

Base64Decoding invalid(std::string problem) {
    return {std::nullopt, std::move(problem)};
}

} // namespace

std::string encodeBase64(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                         static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                         static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 2]));
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += kAlphabet[group >> 6 & 63];
        text += kAlphabet[group & 63];
    }
    size_t left = bytes.size() - i;
    if (left > 0) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left == 2) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += left == 2 ? kAlphabet[group >> 6 & 63] : '=';
        text += '=';
    }
    return text;
}

Base64Decoding decodeBase64(std::string_view text) {
    // Where the padding starts, if any; everything before it must be in the alphabet.
    size_t padding = text.size();
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '=') {
            if (padding == text.size()) padding = i;
            continue;
        }
        if (kDecoding[c] == kNotInAlphabet) {
            std::string what =
                isWhiteSpace(c) ? "white space" : "unexpected character " + describeCharacter(c);
            return invalid(what + " at character " + std::to_string(i + 1));
        }
        if (padding != text.size())
            return invalid("'=' padding before the end, at character " + std::to_string(padding + 1));
    }
    size_t padCount = text.size() - padding;
    if (padCount > 2) return invalid("more than two '=' padding characters");
    if (text.size() % 4 != 0) {
        return invalid("length of " + std::to_string(text.size()) +
                       " characters is not a multiple of 4 (missing or extra '=' padding)");
    }
    // "x===" never occurs: three pads are refused above, so a group has at least two data characters.
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        int dataCharacters = 0;
        for (size_t k = 0; k < 4; ++k) {
            auto c = static_cast<unsigned char>(text[i + k]);
            group <<= 6;
            if (c != '=') {
                group |= static_cast<uint32_t>(kDecoding[c]);
                ++dataCharacters;
            }
        }
        bytes += static_cast<char>(group >> 16 & 0xFF);
        if (dataCharacters >= 3) bytes += static_cast<char>(group >> 8 & 0xFF);
        if (dataCharacters == 4) bytes += static_cast<char>(group & 0xFF);
    }
    return {std::move(bytes), {}};
}

} // namespace mivora::core
