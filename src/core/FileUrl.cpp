#include "orvix/FileUrl.h"

#include <string_view>
#include <system_error>

namespace orvix {

std::string fileURLString(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) absolute = path;
    static constexpr char hex[] = "0123456789ABCDEF";
    static constexpr std::string_view kept = "-._~!$&'()*+,;=:@/";  // unreserved marks, sub-delims, pchar, '/'
    std::string url = "file://";
    for (unsigned char c : absolute.lexically_normal().string()) {
        const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (alnum || kept.find(static_cast<char>(c)) != std::string_view::npos) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 0xF];
        }
    }
    return url;
}

std::string lastPathComponent(const std::filesystem::path& path) {
    auto name = path.filename();
    if (name.empty()) name = path.parent_path().filename();  // "dir/" names dir
    return name.string();
}

}  // namespace orvix
