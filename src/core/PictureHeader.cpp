#include "orvix/PictureHeader.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace orvix {
namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint64_t be(Bytes b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}
std::uint64_t le(Bytes b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}
bool startsWith(Bytes b, const char* magic, std::size_t n, std::size_t at = 0) {
    return b.size() >= at + n && std::memcmp(b.data() + at, magic, n) == 0;
}

Result<PictureSize> damaged(const char* format) { return Error{std::string("damaged ") + format + " header"}; }

Result<PictureSize> sized(std::uint64_t w, std::uint64_t h, const char* format) {
    if (w == 0 || h == 0) return Error{std::string(format) + " header declares no pixels"};
    return PictureSize{w, h};
}

Result<PictureSize> png(Bytes b) {
    if (b.size() < 24 || !startsWith(b, "IHDR", 4, 12)) return damaged("PNG");
    return sized(be(b, 16, 4), be(b, 20, 4), "PNG");
}

Result<PictureSize> jpeg(Bytes b) {
    std::size_t pos = 2;
    while (pos + 4 <= b.size()) {
        if (b[pos] != 0xFF) return damaged("JPEG");
        const std::uint8_t marker = b[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
            pos += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) break;  // end of image or scan before a frame header
        const std::uint64_t length = be(b, pos + 2, 2);
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (pos + 9 > b.size()) break;
            return sized(be(b, pos + 7, 2), be(b, pos + 5, 2), "JPEG");
        }
        if (length < 2) return damaged("JPEG");
        pos += 2 + length;
    }
    return damaged("JPEG");
}

Result<PictureSize> bmp(Bytes b) {
    if (b.size() < 26) return damaged("BMP");
    if (le(b, 14, 4) == 12) return sized(le(b, 18, 2), le(b, 20, 2), "BMP");  // OS/2 core header
    const auto w = static_cast<std::int32_t>(le(b, 18, 4));
    const auto h = static_cast<std::int32_t>(le(b, 22, 4));  // negative: top-down rows
    if (w <= 0 || h == INT32_MIN) return damaged("BMP");
    return sized(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h < 0 ? -static_cast<std::int64_t>(h) : h),
                 "BMP");
}

Result<PictureSize> webp(Bytes b) {
    if (b.size() < 30) return damaged("WebP");
    if (startsWith(b, "VP8 ", 4, 12)) return sized(le(b, 26, 2) & 0x3FFF, le(b, 28, 2) & 0x3FFF, "WebP");
    if (startsWith(b, "VP8L", 4, 12)) {
        const std::uint64_t bits = le(b, 21, 4);
        return sized((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1, "WebP");
    }
    if (startsWith(b, "VP8X", 4, 12)) return sized(le(b, 24, 3) + 1, le(b, 27, 3) + 1, "WebP");
    return damaged("WebP");
}

Result<PictureSize> tiff(Bytes b) {
    const bool little = b[0] == 'I';
    auto rd = [&](std::size_t at, int n) { return little ? le(b, at, n) : be(b, at, n); };
    const bool big = rd(2, 2) == 43;
    if (b.size() < (big ? 16u : 8u)) return damaged("TIFF");
    const std::uint64_t ifd = big ? rd(8, 8) : rd(4, 4);
    const std::size_t countSize = big ? 8 : 2, entrySize = big ? 20 : 12, valueAt = big ? 12 : 8;
    if (ifd == 0 || ifd > b.size() || b.size() - ifd < countSize) return damaged("TIFF");
    const std::uint64_t count = rd(static_cast<std::size_t>(ifd), static_cast<int>(countSize));
    std::uint64_t width = 0, height = 0;
    bool seen[2] = {false, false};
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = ifd + countSize + i * entrySize;
        if (at + entrySize > b.size()) return damaged("TIFF");
        const auto tag = rd(static_cast<std::size_t>(at), 2);
        const auto type = rd(static_cast<std::size_t>(at) + 2, 2);
        if (tag != 256 && tag != 257) continue;
        // libtiff sizes the picture from the first entry; had this reading taken another, 12 KB
        // declaring gigapixels would pass the pixel limit here and be allocated there.
        if (seen[tag - 256])
            return Error{std::string("TIFF header repeats ") + (tag == 256 ? "ImageWidth" : "ImageLength")};
        const std::uint64_t v = type == 3           ? rd(static_cast<std::size_t>(at + valueAt), 2)
                                : type == 4         ? rd(static_cast<std::size_t>(at + valueAt), 4)
                                : type == 16 && big ? rd(static_cast<std::size_t>(at + valueAt), 8)
                                                    : 0;
        (tag == 256 ? width : height) = v;
        seen[tag - 256] = true;
    }
    return sized(width, height, "TIFF");
}

// PBM/PGM/PPM: "Pn" then width and height as decimal tokens, '#' comments allowed; PAM: WIDTH/HEIGHT lines.
Result<PictureSize> pnm(Bytes b) {
    std::size_t pos = 2;
    // A token counts only when whitespace ends it: a number cut by the end of the data is no number.
    auto token = [&]() -> std::string {
        std::string t;
        while (true) {
            if (pos >= b.size()) return {};
            const char c = static_cast<char>(b[pos]);
            if (c == '#') {
                while (pos < b.size() && b[pos] != '\n') ++pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                if (!t.empty()) break;
                ++pos;
            } else {
                t += c;
                ++pos;
                if (t.size() > 20) break;
            }
        }
        return t;
    };
    auto number = [](const std::string& t) -> std::optional<std::uint64_t> {
        if (t.empty() || t.size() > 12 || t.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        return std::stoull(t);
    };
    if (b[1] == '7') {
        std::optional<std::uint64_t> w, h;
        for (int i = 0; i < 64 && pos < b.size(); ++i) {
            const std::string key = token();
            if (key == "ENDHDR") break;
            if (key == "WIDTH") w = number(token());
            if (key == "HEIGHT") h = number(token());
        }
        if (!w || !h) return damaged("PAM");
        return sized(*w, *h, "PAM");
    }
    const auto w = number(token());
    const auto h = number(token());
    if (!w || !h) return damaged("PNM");
    return sized(*w, *h, "PNM");
}

Result<PictureSize> hdr(Bytes b) {
    // Header lines up to an empty line, then the resolution line "-Y height +X width" (or another orientation).
    std::size_t pos = 0;
    bool blank = false;
    while (pos < b.size() && pos < 65536) {
        const std::size_t start = pos;
        while (pos < b.size() && b[pos] != '\n') ++pos;
        if (pos == b.size()) break;  // a line cut by the end of the data
        const std::string line(reinterpret_cast<const char*>(b.data()) + start, pos - start);
        ++pos;
        if (blank) {
            char a1 = 0, a2 = 0, b1 = 0, b2 = 0;
            unsigned long long first = 0, second = 0;
            if (std::sscanf(line.c_str(), "%c%c %llu %c%c %llu", &a1, &a2, &first, &b1, &b2, &second) != 6)
                return damaged("Radiance HDR");
            return a2 == 'Y' ? sized(second, first, "Radiance HDR") : sized(first, second, "Radiance HDR");
        }
        blank = line.empty();
    }
    return damaged("Radiance HDR");
}

Result<PictureSize> jpeg2000(Bytes b) {
    if (b[0] == 0xFF) {  // raw codestream: SIZ marker segment right after SOC
        if (b.size() < 24 || b[2] != 0xFF || b[3] != 0x51) return damaged("JPEG 2000");
        const std::uint64_t xs = be(b, 8, 4), ys = be(b, 12, 4), xo = be(b, 16, 4), yo = be(b, 20, 4);
        if (xo >= xs || yo >= ys) return damaged("JPEG 2000");
        return sized(xs - xo, ys - yo, "JPEG 2000");
    }
    for (std::size_t at = 0; at + 16 <= b.size() && at < (1u << 20); ++at)
        if (std::memcmp(b.data() + at, "ihdr", 4) == 0) return sized(be(b, at + 8, 4), be(b, at + 4, 4), "JPEG 2000");
    return damaged("JPEG 2000");
}

bool pngSignature(Bytes b) { return startsWith(b, "\x89PNG\r\n\x1a\n", 8); }
bool jpegSignature(Bytes b) { return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF; }
bool bmpSignature(Bytes b) { return startsWith(b, "BM", 2); }
bool tiffSignature(Bytes b) {
    return startsWith(b, "II*\0", 4) || startsWith(b, "MM\0*", 4) || startsWith(b, "II+\0", 4) ||
           startsWith(b, "MM\0+", 4);
}
bool webpSignature(Bytes b) { return startsWith(b, "RIFF", 4) && startsWith(b, "WEBP", 4, 8); }
bool pnmSignature(Bytes b) { return b.size() >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '7' && std::isspace(b[2]); }
bool jpeg2000Signature(Bytes b) {
    return startsWith(b, "\0\0\0\x0cjP  \r\n\x87\n", 12) || startsWith(b, "\xFF\x4F\xFF\x51", 4);
}
bool sunRasterSignature(Bytes b) { return b.size() >= 4 && be(b, 0, 4) == 0x59A66A95; }
bool hdrSignature(Bytes b) { return startsWith(b, "#?RADIANCE", 10) || startsWith(b, "#?RGBE", 6); }

Result<PictureSize> sunRaster(Bytes b) {
    if (b.size() < 12) return damaged("Sun raster");
    return sized(be(b, 4, 4), be(b, 8, 4), "Sun raster");
}

}  // namespace

const std::vector<PictureFormatInfo>& pictureFormats() {
    using F = PictureFormat;
    using D = Decoder;
    static const std::vector<PictureFormatInfo> table{
        {F::Png, "PNG", {"png"}, D::LibPng, pngSignature, png},
        {F::Jpeg, "JPEG", {"jpg", "jpeg", "jpe"}, D::TurboJpeg, jpegSignature, jpeg},
        {F::Bmp, "BMP", {"bmp", "dib"}, D::OpenCv, bmpSignature, bmp},
        {F::Tiff, "TIFF", {"tif", "tiff"}, D::OpenCv, tiffSignature, tiff},
        {F::WebP, "WebP", {"webp"}, D::OpenCv, webpSignature, webp},
        {F::Pnm, "PBM/PGM/PPM", {"pbm", "pgm", "ppm", "pnm", "pxm"}, D::OpenCv, pnmSignature, pnm},
        {F::Jpeg2000, "JPEG 2000", {"jp2", "j2k", "j2c"}, D::OpenJpeg, jpeg2000Signature, jpeg2000},
        {F::Dicom, "DICOM", {"dcm", "dicom", "dic"}, D::Dcmtk, nullptr, nullptr},
        // OpenCV reads these two only through a temporary copy of the file, which a killed
        // process would leave behind; neither is a radiograph format.
        {F::SunRaster, "Sun raster", {}, D::None, sunRasterSignature, sunRaster},
        {F::RadianceHdr, "Radiance HDR", {}, D::None, hdrSignature, hdr},
    };
    return table;
}

const PictureFormatInfo& pictureFormat(PictureFormat format) {
    for (const auto& row : pictureFormats())
        if (row.format == format) return row;
    throw std::logic_error("picture format missing from the table");
}

const std::vector<std::string>& decodableExtensions() {
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> out;
        for (const auto& row : pictureFormats())
            if (row.decoder != Decoder::None) out.insert(out.end(), row.extensions.begin(), row.extensions.end());
        return out;
    }();
    return extensions;
}

std::string decodableFormatsText() {
    std::vector<std::string> names;
    for (const auto& row : pictureFormats())
        if (row.decoder != Decoder::None) names.emplace_back(row.name);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? ", and " : ", ") + names[i];
    return text;
}

HeaderReading readPictureSize(Bytes b) {
    if (b.size() < 4) return {};
    for (const auto& row : pictureFormats()) {
        if (row.hasSignature == nullptr || !row.hasSignature(b)) continue;
        auto size = row.readSize(b);
        if (!size) return {HeaderReading::Outcome::Damaged, {}, size.error().message};
        size->format = row.format;
        return {HeaderReading::Outcome::Sized, *size, {}};
    }
    return {};
}

}  // namespace orvix
