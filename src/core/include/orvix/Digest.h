#pragma once
// SHA-256 through OpenSSL's libcrypto: the models' digests and the pictures' (a saved report
// records the digest of the picture it was written for, ReportSaver.h).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvix {

// 64 lower-case hexadecimal digits; "" only where libcrypto fails.
std::string sha256Hex(std::span<const std::uint8_t> bytes);
std::string sha256Hex(std::string_view bytes);

}  // namespace orvix
