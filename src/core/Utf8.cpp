#include "orvix/Utf8.h"

#include <unicode/utf8.h>

namespace orvix {

Utf8Character utf8CharacterAt(std::string_view bytes, std::size_t i) {
    // ICU's strict reader; file names and reports are far below its 2 GiB offsets.
    auto offset = static_cast<std::int32_t>(i);
    UChar32 c = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"  // inside ICU's macro
    U8_NEXT(bytes.data(), offset, static_cast<std::int32_t>(bytes.size()), c);
#pragma GCC diagnostic pop
    if (c < 0) return {};
    return {static_cast<char32_t>(c), static_cast<std::size_t>(offset) - i};
}

}  // namespace orvix
