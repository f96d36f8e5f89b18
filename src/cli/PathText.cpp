#include "PathText.h"

#include <cstdint>

#include "orvix/Utf8.h"

namespace orvix::cli {
namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

int hexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

}  // namespace

std::string pathText(std::string_view bytes, PathEscape escape) {
    // Whether the byte at i is written as \xHH.
    const auto escaped = [&](std::size_t i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        return utf8CharacterAt(bytes, i).length == 0 ||
               (escape == PathEscape::InvalidUtf8AndControls && (b < 0x20 || b == 0x7F));
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
        const std::size_t n = utf8CharacterAt(bytes, i).length;
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
