#pragma once
// File locations as the screen shows and prints them.

#include <filesystem>
#include <string>

namespace orvix {

// "file://" + the absolute, lexically normal path as a platform file URL prints it: the
// bytes RFC 3986 allows in a path as they are (unreserved, sub-delims ! $ & ' ( ) * + , ; =,
// ':', '@', '/'), every other byte percent-encoded with upper-case hex (space, '%', '#',
// '?', '[', ']', control and non-ASCII bytes): /home/ana/My Scan (1).png ->
// file:///home/ana/My%20Scan%20(1).png
std::string fileURLString(const std::filesystem::path& path);

// The final path component, extension included, bytes as on disk ("" for a root).
std::string lastPathComponent(const std::filesystem::path& path);

}  // namespace orvix
