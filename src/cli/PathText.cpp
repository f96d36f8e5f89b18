#include "PathText.h"

#include <cstdint>

namespace orvix::cli {
namespace {

// The length of the well-formed UTF-8 character at s[i] (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0 when none starts there.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b = byte(i);
    if (b < 0x80) return 1;
    std::size_t n = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) n = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else return 0;
    if (i + n > s.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return n;
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

int hexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

}  // namespace

std::string pathText(std::string_view bytes, PathEscape escape) {
    // Whether the byte at i is written as \xHH.
    const auto escaped = [&](std::size_t i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        return utf8Length(bytes, i) == 0 || (escape == PathEscape::InvalidUtf8AndControls && (b < 0x20 || b == 0x7F));
    };
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        if (escaped(i)) {
            const auto b = static_cast<std::uint8_t>(bytes[i++]);
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
            continue;
        }
        if (bytes[i] == '\\') {
            // Doubled only where what follows would make it read as an escape.
            const bool last = i + 1 == bytes.size();
            const bool ambiguous =
                !last && (bytes[i + 1] == '\\' || escaped(i + 1) ||
                          (bytes[i + 1] == 'x' && i + 3 < bytes.size() && isHex(bytes[i + 2]) && isHex(bytes[i + 3])));
            out += ambiguous ? "\\\\" : "\\";
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(bytes, i);
        out.append(bytes.substr(i, n));
        i += n;
    }
    return out;
}

std::string readPathText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && isHex(text[i + 2]) &&
                   isHex(text[i + 3])) {
            out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace orvix::cli
