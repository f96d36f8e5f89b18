#include "orvix/ImageDecoder.h"

#include "orvix/Console.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <mutex>
#include <sstream>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <tiffio.h>

#include "Codecs.h"
#include "orvix/DicomDecoder.h"
#include "orvix/PictureHeader.h"

namespace orvix {
namespace {

std::string describe(const std::filesystem::path& path, const std::string& why) { return path.string() + ": " + why; }

const char* formatName(PictureFormat format) { return pictureFormat(format).name; }

// OpenCV's imdecode writes the reason for a failed decode to std::cerr itself. For the
// length of a call its text is taken, under a lock, and becomes the refusal's reason.
// (A line that another thread wrote to std::cerr meanwhile would be taken with it:
// Orvix writes its own lines through the console sinks, never to std::cerr directly.)
class CerrCapture {
public:
    CerrCapture() : lock_(consoleMutex()), previous_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(previous_); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;

    // The library's own words: "... error: (-2:Unspecified error) WHY in function ..." gives WHY.
    std::string reason() const {
        std::string why = text_.str();
        if (const auto at = why.find(" error) "); at != std::string::npos) why.erase(0, at + 8);
        if (const auto at = why.find(" in function"); at != std::string::npos) why.erase(at);
        while (!why.empty() && std::isspace(static_cast<unsigned char>(why.back()))) why.pop_back();
        return why;
    }

private:
    std::lock_guard<std::mutex> lock_;
    std::ostringstream text_;
    std::streambuf* previous_;
};

// The first libtiff error of the TIFF decode in progress on this thread, if one is listening.
thread_local std::string* tiffError = nullptr;

// libtiff reports a damaged strip or tile (an LZW code not yet in the table, a deflate
// error, data that ends before the strip does) to its error handler, and OpenCV 4.6 goes
// on with what was decoded. OpenCV installs libtiff's plain handler; the extended one,
// which libtiff calls as well, is Orvix's, process-wide, and keeps the error for the
// thread whose decode caused it (libtiff reports on the thread that decodes).
void keepTiffError(thandle_t, const char* module, const char* format, va_list arguments) {
    if (tiffError == nullptr || !tiffError->empty()) return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    *tiffError = module != nullptr && *module != '\0' ? std::string(module) + ": " + text : std::string(text);
}

class TiffErrorCapture {
public:
    TiffErrorCapture() : previous_(tiffError) {
        static const bool installed = [] {
            TIFFSetErrorHandlerExt(keepTiffError);
            return true;
        }();
        (void)installed;
        tiffError = &error_;
    }
    ~TiffErrorCapture() { tiffError = previous_; }
    TiffErrorCapture(const TiffErrorCapture&) = delete;
    TiffErrorCapture& operator=(const TiffErrorCapture&) = delete;
    const std::string& error() const { return error_; }

private:
    std::string error_;
    std::string* previous_;
};

// BMP, TIFF, WebP and PNM through OpenCV, whose decoders for them refuse a file cut
// short or damaged (the tests cut every offered format at every length). OpenCV's log
// is silenced: its lines would stand beside Orvix's one diagnostic per refused file.
Result<cv::Mat> decodeWithOpenCv(std::span<const std::uint8_t> bytes, PictureFormat format) {
    static const bool quiet = [] {
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        return true;
    }();
    (void)quiet;
    // cv::imdecode takes a non-const Mat header; it does not write through it.
    const cv::Mat raw(1, static_cast<int>(bytes.size()), CV_8U, const_cast<std::uint8_t*>(bytes.data()));
    cv::Mat decoded;
    std::string why;
    {
        CerrCapture capture;
        const TiffErrorCapture tiff;
        try {
            decoded = cv::imdecode(raw, cv::IMREAD_UNCHANGED);
        } catch (const cv::Exception& e) {
            return Error{"damaged or unsupported " + std::string(formatName(format)) + " data: " + e.err};
        }
        why = capture.reason();
        if (!tiff.error().empty()) return Error{"damaged TIFF data: " + tiff.error()};
    }
    if (decoded.empty())
        return Error{"damaged or unsupported " + std::string(formatName(format)) + " data" +
                     (why.empty() ? "" : ": " + why)};
    return decoded;
}

Result<cv::Mat> decodeFormat(std::span<const std::uint8_t> bytes, PictureFormat format) {
    switch (pictureFormat(format).decoder) {
        case Decoder::TurboJpeg: return codecs::decodeJpeg(bytes);
        case Decoder::LibPng: return codecs::decodePng(bytes);
        case Decoder::OpenJpeg: return codecs::decodeJpeg2000(bytes);
        case Decoder::OpenCv:
            if (format == PictureFormat::Bmp)
                if (auto covered = codecs::checkBmpRunLengths(bytes); !covered) return covered.error();
            return decodeWithOpenCv(bytes, format);
        case Decoder::Dcmtk:  // recognised by content before the header table is asked
        case Decoder::None: break;
    }
    return Error{std::string(formatName(format)) + " pictures are not supported"};
}

cv::Mat toEightBit(const cv::Mat& in) {
    if (in.depth() == CV_8U) return in;
    cv::Mat out;
    switch (in.depth()) {
        case CV_16U: in.convertTo(out, CV_8U, 1.0 / 257.0); break;
        case CV_16S: in.convertTo(out, CV_8U, 1.0 / 257.0, 128.0); break;
        case CV_32F:
        case CV_64F: {
            // High-dynamic-range files: clip to [0, 1] like a display would.
            in.convertTo(out, CV_8U, 255.0);
            break;
        }
        default: in.convertTo(out, CV_8U); break;
    }
    return out;
}

cv::Mat compositeOnWhite(const cv::Mat& bgra) {
    cv::Mat out(bgra.size(), CV_8UC3);
    for (int y = 0; y < bgra.rows; ++y) {
        const auto* src = bgra.ptr<cv::Vec4b>(y);
        auto* dst = out.ptr<cv::Vec3b>(y);
        for (int x = 0; x < bgra.cols; ++x) {
            const int a = src[x][3];
            for (int c = 0; c < 3; ++c)
                dst[x][c] = static_cast<std::uint8_t>((src[x][c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
    return out;
}

}  // namespace

Result<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
    // Non-blocking open: a FIFO or device named like a picture must not hang the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return Error{describe(path, std::strerror(errno))};
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) return Error{describe(path, std::strerror(errno))};
    if (S_ISDIR(info.st_mode)) return Error{describe(path, "is a directory")};
    if (!S_ISREG(info.st_mode)) return Error{describe(path, "is not a regular file")};
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto tooLarge = [&] {
        return Error{describe(path, "file is larger than the " + std::to_string(maxBytes >> 20) + " MiB limit")};
    };
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) return tooLarge();

    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t chunk[1 << 16];
    while (true) {  // to the end, not to st_size: the file may change while it is read
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Error{describe(path, std::strerror(errno))};
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) return tooLarge();
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

Result<Image> decodeImage(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels) {
    auto decoded = decodePicture(bytes, maxPixels);
    if (!decoded) return decoded.error();
    return std::move(decoded->image);
}

Result<DecodedPicture> decodePicture(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels) {
    const auto dicom = [&]() -> Result<DecodedPicture> {
        auto decoded = decodeDicomPicture(bytes, maxPixels);
        if (!decoded) return decoded.error();
        return DecodedPicture{std::move(decoded->image), std::move(decoded->identity)};
    };
    if (bytes.empty()) return Error{"empty file"};
    if (hasDicomPreamble(bytes)) return dicom();
    // Only formats whose header gives the picture's size go to OpenCV, and the declared size
    // decides before OpenCV allocates anything: a few bytes may declare gigapixels. (OpenCV
    // would also hand unknown signatures to its GDAL decoder through a temporary file.)
    const HeaderReading declared = readPictureSize(bytes);
    switch (declared.outcome) {
        case HeaderReading::Outcome::UnknownFormat:
            // DICOM data sets without the Part 10 preamble are recognised by their first element.
            if (looksLikeBareDicom(bytes)) return dicom();
            return Error{"not a decodable picture (unknown format)"};
        case HeaderReading::Outcome::Damaged: return Error{"not a decodable picture (" + declared.reason + ")"};
        case HeaderReading::Outcome::Sized: break;
    }
    const auto [width, height, format] = declared.size;
    if (width > maxPixels || height > maxPixels || width * height > maxPixels)
        return Error{"picture declares more than " + std::to_string(maxPixels) + " pixels"};
    Result<cv::Mat> result = Error{};
    try {
        result = decodeFormat(bytes, format);
    } catch (const cv::Exception& e) {
        return Error{"not a decodable picture (" + e.err + ")"};
    }
    if (!result) return Error{"not a decodable picture (" + result.error().message + ")"};
    const cv::Mat& decoded = result.value();
    if (decoded.empty() || decoded.cols <= 0 || decoded.rows <= 0) return Error{"not a decodable picture"};
    if (static_cast<std::uint64_t>(decoded.cols) * static_cast<std::uint64_t>(decoded.rows) > maxPixels)
        return Error{"picture has more than " + std::to_string(maxPixels) + " pixels"};

    try {
        cv::Mat eight = toEightBit(decoded);
        cv::Mat bgr;
        switch (eight.channels()) {
            case 1: bgr = eight; break;  // grey stays one channel
            case 2: {                    // grey + alpha
                std::vector<cv::Mat> planes;
                cv::split(eight, planes);
                cv::Mat bgra;
                cv::merge(std::vector<cv::Mat>{planes[0], planes[0], planes[0], planes[1]}, bgra);
                bgr = compositeOnWhite(bgra);
                break;
            }
            case 3: bgr = eight; break;
            case 4: bgr = compositeOnWhite(eight); break;
            default: return Error{"unsupported number of colour channels: " + std::to_string(eight.channels())};
        }
        return DecodedPicture{Image(bgr), std::nullopt};
    } catch (const cv::Exception& e) {
        return Error{"could not convert the picture (" + e.err + ")"};
    }
}

}  // namespace orvix
