// JPEG through TurboJPEG. cv::imdecode hands back a picture when libjpeg only warned
// (data cut short, corrupt entropy data): the rows it never decoded are uninitialised
// memory. TurboJPEG stops on the first warning and says which it was.

#include <turbojpeg.h>

#include <memory>

#include "Codecs.h"

namespace orvix::codecs {
namespace {

using Bytes = std::span<const std::uint8_t>;

struct HandleCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};

std::string reason(tjhandle handle) {
    std::string why = tjGetErrorStr2(handle);
    while (!why.empty() && (why.back() == '\n' || why.back() == '.')) why.pop_back();
    return "damaged JPEG data: " + why;
}

// Adobe's CMYK JPEGs store inverted ink values; the same conversion OpenCV applies.
cv::Mat cmykToBgr(const cv::Mat& cmyk) {
    cv::Mat bgr(cmyk.size(), CV_8UC3);
    for (int y = 0; y < cmyk.rows; ++y) {
        const auto* src = cmyk.ptr<cv::Vec4b>(y);
        auto* dst = bgr.ptr<cv::Vec3b>(y);
        for (int x = 0; x < cmyk.cols; ++x) {
            const int k = src[x][3];
            for (int c = 0; c < 3; ++c) dst[x][2 - c] = static_cast<std::uint8_t>(k - (((255 - src[x][c]) * k) >> 8));
        }
    }
    return bgr;
}

cv::Mat orient(cv::Mat picture, int orientation) {
    if (orientation >= 5 && orientation <= 8) cv::transpose(picture, picture);
    switch (orientation) {
        case 2:
        case 6: cv::flip(picture, picture, 1); break;
        case 3:
        case 7: cv::flip(picture, picture, -1); break;
        case 4:
        case 8: cv::flip(picture, picture, 0); break;
        default: break;
    }
    return picture;
}

std::uint32_t read(Bytes b, std::size_t at, int n, bool little) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        const std::uint32_t byte = b[at + static_cast<std::size_t>(little ? n - 1 - i : i)];
        v = (v << 8) | byte;
    }
    return v;
}

// The orientation entry of a TIFF structure (the EXIF payload); 1 when absent or damaged.
int tiffOrientation(Bytes tiff) {
    if (tiff.size() < 8) return 1;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
    if (read(tiff, 2, 2, little) != 42) return 1;
    const std::uint32_t ifd = read(tiff, 4, 4, little);
    if (ifd > tiff.size() || tiff.size() - ifd < 2) return 1;
    const std::uint32_t count = read(tiff, ifd, 2, little);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = ifd + 2 + static_cast<std::size_t>(i) * 12;
        if (at + 12 > tiff.size()) return 1;
        if (read(tiff, at, 2, little) == 0x0112 && read(tiff, at + 2, 2, little) == 3) {
            const auto value = static_cast<int>(read(tiff, at + 8, 2, little));
            return value >= 1 && value <= 8 ? value : 1;
        }
    }
    return 1;
}

}  // namespace

int jpegExifOrientation(Bytes b) {
    std::size_t pos = 2;
    while (pos + 4 <= b.size() && b[pos] == 0xFF) {
        const std::uint8_t marker = b[pos + 1];
        if (marker == 0xDA || marker == 0xD9) break;  // the scan starts: no more metadata
        const std::size_t length = read(b, pos + 2, 2, false);
        if (length < 2 || pos + 2 + length > b.size()) break;
        if (marker == 0xE1 && length >= 8 &&
            std::equal(b.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                       b.begin() + static_cast<std::ptrdiff_t>(pos + 10), "Exif\0\0"))
            return tiffOrientation(b.subspan(pos + 10, length - 8));
        pos += 2 + length;
    }
    return 1;
}

Result<cv::Mat> decodeJpeg(Bytes bytes) {
    const std::unique_ptr<void, HandleCloser> handle(tjInitDecompress());
    if (!handle) return Error{"the JPEG decoder could not start"};
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle.get(), bytes.data(), bytes.size(), &width, &height, &subsampling, &colourspace) != 0)
        return Error{reason(handle.get())};

    const bool grey = colourspace == TJCS_GRAY;
    const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    const int format = grey ? TJPF_GRAY : cmyk ? TJPF_CMYK : TJPF_BGR;
    cv::Mat picture(height, width, grey ? CV_8UC1 : cmyk ? CV_8UC4 : CV_8UC3);
    // Stop on the first warning: a cut or corrupt file is refused, not half decoded.
    // LIMITSCANS refuses progressive files with an absurd number of scans.
    const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
    if (tjDecompress2(handle.get(), bytes.data(), bytes.size(), picture.data, width, static_cast<int>(picture.step),
                      height, format, flags) != 0)
        return Error{reason(handle.get())};
    if (cmyk) picture = cmykToBgr(picture);
    return orient(std::move(picture), jpegExifOrientation(bytes));
}

}  // namespace orvix::codecs
