#pragma once
// File locations as the screen shows and prints them.

#include <filesystem>
#include <string>

namespace orvix {

// "file://" + the absolute, lexically normal path, each byte outside RFC 3986's
// unreserved set and "/" percent-encoded: /home/ana/My Scan.png -> file:///home/ana/My%20Scan.png
std::string fileURLString(const std::filesystem::path& path);

// The final path component, extension included, bytes as on disk ("" for a root).
std::string lastPathComponent(const std::filesystem::path& path);

}  // namespace orvix
