#pragma once
// Reading bytes that may or may not be UTF-8 (file names, report text), one character at a time.

#include <cstddef>
#include <string_view>

namespace orvix {

struct Utf8Character {
    char32_t codePoint = 0;
    std::size_t length = 0;  // bytes; 0 where no well-formed character starts
};

// The well-formed UTF-8 character at bytes[i] (no overlong forms, no surrogates, nothing past
// U+10FFFF, nothing cut short), or length 0 where none starts there. i < bytes.size().
Utf8Character utf8CharacterAt(std::string_view bytes, std::size_t i);

}  // namespace orvix
