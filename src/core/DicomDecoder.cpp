#include "orvix/DicomDecoder.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>
#include <fstream>
#include <mutex>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmimage/diregist.h>  // colour images
#include <dcmtk/dcmimgle/dcmimage.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>
#include <opencv2/imgproc.hpp>

#include "Codecs.h"

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

// JPEG 2000 (lossless only, lossy, and their multi-component forms) and High-Throughput
// JPEG 2000 (lossless, lossless RPCL, lossy), which this DCMTK has no codec for.
bool isJpeg2000Syntax(const OFString& uid) {
    static const char* const uids[] = {"1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91",  "1.2.840.10008.1.2.4.92",
                                       "1.2.840.10008.1.2.4.93", "1.2.840.10008.1.2.4.201", "1.2.840.10008.1.2.4.202",
                                       "1.2.840.10008.1.2.4.203"};
    return std::any_of(std::begin(uids), std::end(uids), [&](const char* known) { return uid == known; });
}

// The encapsulated syntaxes DCMTK's registered codecs decode.
bool hasDcmtkCodec(E_TransferSyntax xfer) {
    switch (xfer) {
        case EXS_JPEGProcess1:
        case EXS_JPEGProcess2_4:
        case EXS_JPEGProcess14:
        case EXS_JPEGProcess14SV1:
        case EXS_JPEGLSLossless:
        case EXS_JPEGLSLossy:
        case EXS_RLELossless: return true;
        default: return false;
    }
}

// The first frame's codestream: the fragments after the offset table up to the fragment that
// starts the next frame (each frame's codestream starts with the SOC and SIZ markers).
Result<std::vector<std::uint8_t>> firstFrameCodestream(DcmDataset& data) {
    DcmElement* element = nullptr;
    auto* pixelData =
        data.findAndGetElement(DCM_PixelData, element).good() ? dynamic_cast<DcmPixelData*>(element) : nullptr;
    if (pixelData == nullptr) return Error{"DICOM file holds no image (no Pixel Data)"};
    E_TransferSyntax key = EXS_Unknown;
    const DcmRepresentationParameter* parameter = nullptr;
    pixelData->getOriginalRepresentationKey(key, parameter);
    DcmPixelSequence* sequence = nullptr;
    if (pixelData->getEncapsulatedRepresentation(key, parameter, sequence).bad() || sequence == nullptr)
        return Error{"JPEG 2000 pixel data is not encapsulated"};
    std::vector<std::uint8_t> codestream;
    for (unsigned long i = 1; i < sequence->card(); ++i) {
        DcmPixelItem* item = nullptr;
        Uint8* bytes = nullptr;
        if (sequence->getItem(item, i).bad() || item->getUint8Array(bytes).bad()) break;
        const Uint32 length = item->getLength();
        const bool nextFrame = !codestream.empty() && length >= 4 && bytes[0] == 0xFF && bytes[1] == 0x4F &&
                               bytes[2] == 0xFF && bytes[3] == 0x51;
        if (nextFrame) break;
        if (bytes != nullptr) codestream.insert(codestream.end(), bytes, bytes + length);
    }
    if (codestream.empty()) return Error{"JPEG 2000 pixel data holds no codestream"};
    return codestream;
}

// Replaces the JPEG 2000 pixel data with the first frame's samples, uncompressed, so that
// the picture goes through the same Modality LUT, VOI LUT and MONOCHROME1 handling as any
// other. Where the data set and the codestream disagree (sign, bits, components, size),
// the codestream is what the samples are: its values replace the data set's.
Status decompressJpeg2000(DcmDataset& data, std::uint64_t maxPixels) {
    auto codestream = firstFrameCodestream(data);
    if (!codestream) return codestream.error();
    auto decoded = codecs::decodeJpeg2000Samples(*codestream, maxPixels);
    if (!decoded) return Error{"JPEG 2000 codestream damaged: " + decoded.error().message};
    const codecs::Jpeg2000Samples& s = *decoded;
    if (s.components != 1 && s.components != 3)
        return Error{"JPEG 2000 codestream with " + std::to_string(s.components) + " components"};
    if (s.width > 0xFFFF || s.height > 0xFFFF) return Error{"JPEG 2000 codestream larger than DICOM allows"};

    const bool deep = s.precision > 8;
    OFCondition put;
    if (deep) {
        std::vector<Uint16> samples(s.values.size());
        for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<Uint16>(s.values[i]);
        put = data.putAndInsertUint16Array(DCM_PixelData, samples.data(), static_cast<unsigned long>(samples.size()));
    } else {
        std::vector<Uint8> samples(s.values.size());
        for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<Uint8>(s.values[i]);
        put = data.putAndInsertUint8Array(DCM_PixelData, samples.data(), static_cast<unsigned long>(samples.size()));
    }
    data.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(s.height));
    data.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(s.width));
    data.putAndInsertUint16(DCM_SamplesPerPixel, static_cast<Uint16>(s.components));
    data.putAndInsertUint16(DCM_BitsAllocated, deep ? 16 : 8);
    data.putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(s.precision));
    data.putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(s.precision - 1));
    data.putAndInsertUint16(DCM_PixelRepresentation, s.isSigned ? 1 : 0);
    data.findAndDeleteElement(DCM_NumberOfFrames);
    if (s.components == 3) {
        // OpenJPEG undoes the codestream's colour transform (YBR_ICT / YBR_RCT): the samples are RGB.
        data.putAndInsertString(DCM_PhotometricInterpretation, "RGB");
        data.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    } else {
        OFString photometric;
        data.findAndGetOFString(DCM_PhotometricInterpretation, photometric);
        if (photometric != "MONOCHROME1") data.putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    }
    if (put.bad()) return Error{std::string("JPEG 2000 samples could not be stored (") + put.text() + ")"};
    return Done{};
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

    OFString syntax;
    file.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, syntax);
    E_TransferSyntax xfer = data->getOriginalXfer();
    if (isJpeg2000Syntax(syntax)) {
        if (auto done = decompressJpeg2000(*data, maxPixels); !done) return done.error();
        xfer = EXS_LittleEndianExplicit;
    } else if (!syntax.empty()) {
        // Compressed pixel data that no registered codec reads, or a syntax this DCMTK does not know.
        const DcmXfer known(syntax.c_str());
        const bool unknown = known.getXfer() == EXS_Unknown;
        if ((unknown || known.isEncapsulated()) && !hasDcmtkCodec(known.getXfer()))
            return Error{"transfer syntax " + std::string(syntax.c_str()) +
                         (unknown ? std::string() : " (" + std::string(known.getXferName()) + ")") +
                         " is not supported"};
    }

    // First frame only.
    DicomImage image(data, xfer, CIF_MayDetachPixelData, 0, 1);
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
