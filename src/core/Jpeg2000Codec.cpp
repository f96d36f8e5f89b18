// JPEG 2000 through OpenJPEG, read from memory (cv::imdecode's JPEG 2000 path hands back
// what a cut codestream held, the rest blank, and logs to standard error). Strict mode
// refuses a truncated codestream; any warning OpenJPEG gives refuses the picture too.

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "Codecs.h"

namespace orvix::codecs {
namespace {

using Bytes = std::span<const std::uint8_t>;

struct MemoryStream {
    Bytes data;
    std::size_t position = 0;
};

OPJ_SIZE_T readFrom(void* out, OPJ_SIZE_T count, void* user) {
    auto& s = *static_cast<MemoryStream*>(user);
    const std::size_t n = std::min<std::size_t>(count, s.data.size() - s.position);
    if (n == 0) return static_cast<OPJ_SIZE_T>(-1);
    std::memcpy(out, s.data.data() + s.position, n);
    s.position += n;
    return n;
}

OPJ_OFF_T skipIn(OPJ_OFF_T count, void* user) {
    auto& s = *static_cast<MemoryStream*>(user);
    if (count < 0 || static_cast<std::size_t>(count) > s.data.size() - s.position) return -1;
    s.position += static_cast<std::size_t>(count);
    return count;
}

OPJ_BOOL seekTo(OPJ_OFF_T at, void* user) {
    auto& s = *static_cast<MemoryStream*>(user);
    if (at < 0 || static_cast<std::size_t>(at) > s.data.size()) return OPJ_FALSE;
    s.position = static_cast<std::size_t>(at);
    return OPJ_TRUE;
}

void keepFirst(const char* message, void* user) {
    auto& problem = *static_cast<std::string*>(user);
    if (!problem.empty()) return;
    problem = message;
    while (!problem.empty() && (problem.back() == '\n' || problem.back() == '.')) problem.pop_back();
}

struct CodecCloser {
    void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamCloser {
    void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageCloser {
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

Result<Jpeg2000Samples> toSamples(const opj_image_t& image) {
    Jpeg2000Samples out;
    out.components = static_cast<int>(image.numcomps);
    if (out.components < 1 || out.components > 4)
        return Error{"JPEG 2000 picture with " + std::to_string(out.components) + " components"};
    const opj_image_comp_t& first = image.comps[0];
    for (int c = 0; c < out.components; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        if (comp.w != first.w || comp.h != first.h || comp.dx != 1 || comp.dy != 1 || comp.data == nullptr)
            return Error{"JPEG 2000 picture with subsampled components"};
        if (comp.prec != first.prec || comp.sgnd != first.sgnd)
            return Error{"JPEG 2000 picture whose components differ in precision or sign"};
    }
    if (first.prec < 1 || first.prec > 16) return Error{"JPEG 2000 samples of " + std::to_string(first.prec) + " bits"};
    out.width = static_cast<int>(first.w);
    out.height = static_cast<int>(first.h);
    out.precision = static_cast<int>(first.prec);
    out.isSigned = first.sgnd != 0;
    const std::size_t pixels = static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height);
    out.values.resize(pixels * static_cast<std::size_t>(out.components));
    // A lossy codestream may decode slightly beyond its declared range: clipped to it.
    const int lowest = out.isSigned ? -(1 << (out.precision - 1)) : 0;
    const int highest = out.isSigned ? (1 << (out.precision - 1)) - 1 : (1 << out.precision) - 1;
    for (int c = 0; c < out.components; ++c) {
        const OPJ_INT32* src = image.comps[c].data;
        for (std::size_t i = 0; i < pixels; ++i)
            out.values[i * static_cast<std::size_t>(out.components) + c] =
                std::clamp<std::int32_t>(src[i], lowest, highest);
    }
    return out;
}

}  // namespace

Result<Jpeg2000Samples> decodeJpeg2000Samples(Bytes bytes, std::uint64_t maxPixels, std::uint64_t maxSamples) {
    const bool codestream = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0x4F;
    MemoryStream memory{bytes, 0};
    std::string problem;

    const std::unique_ptr<opj_stream_t, StreamCloser> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    const std::unique_ptr<opj_codec_t, CodecCloser> codec(
        opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (!stream || !codec) return Error{"the JPEG 2000 decoder could not start"};
    opj_stream_set_user_data(stream.get(), &memory, nullptr);
    opj_stream_set_user_data_length(stream.get(), bytes.size());
    opj_stream_set_read_function(stream.get(), readFrom);
    opj_stream_set_skip_function(stream.get(), skipIn);
    opj_stream_set_seek_function(stream.get(), seekTo);
    opj_set_error_handler(codec.get(), keepFirst, &problem);
    opj_set_warning_handler(codec.get(), keepFirst, &problem);
    opj_set_info_handler(codec.get(), nullptr, nullptr);

    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* raw = nullptr;
    const bool decoded = opj_setup_decoder(codec.get(), &parameters) &&
                         opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE) &&
                         opj_read_header(stream.get(), codec.get(), &raw);
    const std::unique_ptr<opj_image_t, ImageCloser> image(raw);
    if (decoded) {
        std::uint64_t width = image->x1 - image->x0, height = image->y1 - image->y0;
        if (width * height > maxPixels)
            return Error{"JPEG 2000 codestream declares more than " + std::to_string(maxPixels) + " pixels"};
        // OpenJPEG holds about eight bytes per sample while it decodes (a 10000 x 10000 RGBA
        // picture of 1.5 KB peaked at 3.25 GB): a picture of more samples than maxSamples is
        // decoded at the first resolution level (half, quarter, ... the size) that fits.
        std::uint32_t reduce = 0;
        while (width * height * image->numcomps > maxSamples) {
            width = (width + 1) / 2;
            height = (height + 1) / 2;
            ++reduce;
        }
        if (reduce > 0 && !opj_set_decoded_resolution_factor(codec.get(), reduce))
            return Error{"JPEG 2000 codestream of " + std::to_string(image->numcomps) + " components x " +
                         std::to_string(image->x1 - image->x0) + " x " + std::to_string(image->y1 - image->y0) +
                         " pixels has too few resolution levels to decode within " + std::to_string(maxSamples) +
                         " samples"};
    }
    if (!decoded || !opj_decode(codec.get(), stream.get(), image.get()) ||
        !opj_end_decompress(codec.get(), stream.get()) || !problem.empty())
        return Error{"damaged JPEG 2000 data: " + (problem.empty() ? std::string("unreadable") : problem)};
    return toSamples(*image);
}

Result<cv::Mat> decodeJpeg2000(Bytes bytes) {
    auto decoded = decodeJpeg2000Samples(bytes);
    if (!decoded) return decoded.error();
    const Jpeg2000Samples& s = *decoded;
    const bool deep = s.precision > 8;
    const int fullScale = deep ? 65535 : 255;
    const int maxValue = (1 << s.precision) - 1;
    const int offset = s.isSigned ? 1 << (s.precision - 1) : 0;
    cv::Mat out(s.height, s.width, CV_MAKETYPE(deep ? CV_16U : CV_8U, s.components));
    // OpenCV's channel order is BGR(A): RGB components 0 and 2 change places.
    const int place[4][4] = {{0}, {0, 1}, {2, 1, 0}, {2, 1, 0, 3}};
    std::size_t i = 0;
    for (int y = 0; y < out.rows; ++y) {
        for (int x = 0; x < out.cols; ++x) {
            for (int c = 0; c < s.components; ++c) {
                const int v = std::clamp(s.values[i++] + offset, 0, maxValue);
                // Fewer bits than the target: scaled so that full scale stays full scale.
                const auto scaled = (static_cast<std::int64_t>(v) * fullScale + maxValue / 2) / maxValue;
                const int at = x * s.components + place[s.components - 1][c];
                if (deep) out.ptr<std::uint16_t>(y)[at] = static_cast<std::uint16_t>(scaled);
                else out.ptr<std::uint8_t>(y)[at] = static_cast<std::uint8_t>(scaled);
            }
        }
    }
    return out;
}

}  // namespace orvix::codecs
