#pragma once
// File names as orvix-screen writes them into its rows. A Linux file name is any bytes but '/'
// and NUL, not necessarily UTF-8, and may hold a line feed; the rows are UTF-8 lines. Such
// bytes are written as \xHH (two upper-case hex digits), and a backslash that would read as the
// start of one, or of another backslash's escape, as \\. A name of UTF-8 without control
// characters and without "\\" or "\x" comes out as it is, so most names are unchanged, and
// every name has its own text: readPathText gives its bytes back.

#include <string>
#include <string_view>

namespace orvix::cli {

enum class PathEscape {
    InvalidUtf8,             // for JSON, which escapes control characters itself
    InvalidUtf8AndControls,  // for a text row: tabs and line feeds would split it
};

std::string pathText(std::string_view bytes, PathEscape escape = PathEscape::InvalidUtf8);

// The bytes of a pathText (whatever PathEscape it was written with).
std::string readPathText(std::string_view text);

}  // namespace orvix::cli
