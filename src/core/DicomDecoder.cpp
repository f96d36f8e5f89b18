#include "orvix/DicomDecoder.h"

#include <cstring>
#include <fstream>
#include <mutex>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmimage/diregist.h>  // colour images
#include <dcmtk/dcmimgle/dcmimage.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>
#include <opencv2/imgproc.hpp>


namespace orvix {
namespace {

void initialiseDcmtk() {
    static std::once_flag once;
    std::call_once(once, [] {
        DJDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
        DcmRLEDecoderRegistration::registerCodecs();
        // DCMTK's own warnings would reach standard error; the caller reports failures itself.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
    });
}

}  // namespace

bool hasDicomPreamble(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 132 && std::memcmp(bytes.data() + 128, "DICM", 4) == 0;
}

bool looksLikeBareDicom(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 8 && (bytes[0] == 0x02 || bytes[0] == 0x08) && bytes[1] == 0x00;
}

bool isDicomFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::uint8_t head[132] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    return hasDicomPreamble({head, got}) || looksLikeBareDicom({head, got});
}

Result<Image> decodeDicom(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels) {
    initialiseDcmtk();
    DcmInputBufferStream stream;
    stream.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
    stream.setEos();
    DcmFileFormat file;
    file.transferInit();
    const OFCondition read = file.read(stream, EXS_Unknown, EGL_noChange, DCM_MaxReadLength);
    file.transferEnd();
    if (read.bad()) return Error{std::string("not a readable DICOM file (") + read.text() + ")"};

    DcmDataset* data = file.getDataset();
    if (!data->tagExists(DCM_PixelData)) return Error{"DICOM file holds no image (no Pixel Data)"};
    Uint16 rows = 0, columns = 0;
    data->findAndGetUint16(DCM_Rows, rows);
    data->findAndGetUint16(DCM_Columns, columns);
    if (static_cast<std::uint64_t>(rows) * columns > maxPixels)
        return Error{"picture declares more than " + std::to_string(maxPixels) + " pixels"};

    // First frame only.
    DicomImage image(data, data->getOriginalXfer(), CIF_MayDetachPixelData, 0, 1);
    if (image.getStatus() != EIS_Normal)
        return Error{std::string("DICOM image cannot be decoded (") + DicomImage::getString(image.getStatus()) + ")"};

    if (image.isMonochrome()) {
        if (image.getVoiLutCount() > 0) {
            image.setVoiLut(0);
        } else if (image.getWindowCount() > 0) {
            OFString function;
            if (data->findAndGetOFString(DCM_VOILUTFunction, function).good() && function == "SIGMOID")
                image.setVoiLutFunction(EFV_Sigmoid);
            image.setWindow(0);
        } else {
            image.setMinMaxWindow();
        }
    }
    const int width = static_cast<int>(image.getWidth());
    const int height = static_cast<int>(image.getHeight());
    const void* pixels = image.getOutputData(8, 0, 0);  // 8 bits, frame 0, interleaved colour
    if (pixels == nullptr || width <= 0 || height <= 0) return Error{"DICOM image cannot be rendered"};

    cv::Mat bgr;
    try {
        if (image.isMonochrome()) {
            bgr = cv::Mat(height, width, CV_8UC1, const_cast<void*>(pixels)).clone();
        } else {
            cv::cvtColor(cv::Mat(height, width, CV_8UC3, const_cast<void*>(pixels)), bgr, cv::COLOR_RGB2BGR);
        }
    } catch (const cv::Exception& e) {
        return Error{"DICOM image cannot be converted (" + e.err + ")"};
    }
    return Image(bgr);
}

}  // namespace orvix
