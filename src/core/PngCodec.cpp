// PNG through libpng with this decoder's own error and warning handlers: libpng's
// defaults write to standard error, and cv::imdecode cannot say why a file failed.

#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "Codecs.h"

namespace orvix::codecs {
namespace {

// Everything a libpng callback touches lives here, in memory that a longjmp out of
// libpng leaves intact; the functions that libpng may jump out of own no objects
// with destructors.
struct PngRead {
    std::span<const std::uint8_t> data;
    std::size_t position = 0;
    bool pixelsStarted = false;
    std::string problem;  // the first error, or a warning once pixel data is read
    cv::Mat picture;
    std::vector<png_bytep> rows;
};

PngRead& state(png_structp png) { return *static_cast<PngRead*>(png_get_error_ptr(png)); }

void onError(png_structp png, png_const_charp message) {
    if (state(png).problem.empty()) state(png).problem = message;
    png_longjmp(png, 1);
}

// Remarks on metadata (an odd colour profile, say) change no pixel; anything said
// once pixel data is read means the pixels are not the file's.
void onWarning(png_structp png, png_const_charp message) {
    PngRead& read = state(png);
    if (read.pixelsStarted && read.problem.empty()) read.problem = message;
}

void readData(png_structp png, png_bytep out, std::size_t count) {
    PngRead& read = *static_cast<PngRead*>(png_get_io_ptr(png));
    if (read.data.size() - read.position < count) png_error(png, "the data ends before the picture does");
    std::memcpy(out, read.data.data() + read.position, count);
    read.position += count;
}

void readPicture(png_structp png, png_infop info, PngRead& read) {
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_set_benign_errors(png, 0);
    png_set_read_fn(png, &read, readData);
    png_read_info(png, info);

    const int colourType = png_get_color_type(png, info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (png_get_bit_depth(png, info) == 16) png_set_swap(png);  // native little-endian 16-bit samples
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int channels = png_get_channels(png, info);
    const int depth = png_get_bit_depth(png, info) == 16 ? CV_16U : CV_8U;
    read.picture.create(static_cast<int>(png_get_image_height(png, info)),
                        static_cast<int>(png_get_image_width(png, info)), CV_MAKETYPE(depth, channels));
    read.rows.resize(static_cast<std::size_t>(read.picture.rows));
    for (int y = 0; y < read.picture.rows; ++y) read.rows[static_cast<std::size_t>(y)] = read.picture.ptr(y);
    read.pixelsStarted = true;
    png_read_image(png, read.rows.data());
    png_read_end(png, nullptr);  // the chunks after the pixels, IEND's CRC included
}

// The only function with a setjmp: its own locals are set before it and never after.
bool readGuarded(png_structp png, png_infop info, PngRead& read) {
    if (setjmp(png_jmpbuf(png))) return false;
    readPicture(png, info, read);
    return true;
}

}  // namespace

Result<cv::Mat> decodePng(std::span<const std::uint8_t> bytes) {
    PngRead read;
    read.data = bytes;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, onError, onWarning);
    if (png == nullptr) return Error{"the PNG decoder could not start"};
    png_infop info = png_create_info_struct(png);
    const bool ok = info != nullptr && readGuarded(png, info, read);
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    if (!ok || !read.problem.empty())
        return Error{"damaged PNG data: " + (read.problem.empty() ? std::string("unreadable") : read.problem)};
    return std::move(read.picture);
}

}  // namespace orvix::codecs
