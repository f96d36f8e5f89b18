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
#include <dcmtk/oflog/appender.h>
#include <dcmtk/oflog/logger.h>
#include <dcmtk/oflog/oflog.h>
#include <dcmtk/oflog/spi/logevent.h>
#include <opencv2/imgproc.hpp>

#include "Codecs.h"

namespace orvix {
namespace {

namespace log4cplus = dcmtk::log4cplus;

// The warnings of the decoding in progress on this thread, if one is listening.
thread_local std::vector<std::string>* codecWarnings = nullptr;

// DCMTK's JPEG codecs report corrupt entropy data ("Corrupt JPEG data: ...", "Premature
// end of JPEG file") only as a logged warning, and the frame's status stays good: the
// samples libjpeg made up would be analysed. This appender hands those lines to the
// decoding that caused them (DCMTK logs on the thread that decodes).
class WarningCollector : public log4cplus::Appender {
public:
    ~WarningCollector() override { destructorImpl(); }
    void close() override {}

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override {
        if (codecWarnings != nullptr) codecWarnings->emplace_back(event.getMessage().c_str());
    }
};

// Collects the codecs' warnings for its lifetime, on this thread.
class CodecWarnings {
public:
    CodecWarnings() : previous_(codecWarnings) { codecWarnings = &lines_; }
    ~CodecWarnings() { codecWarnings = previous_; }
    CodecWarnings(const CodecWarnings&) = delete;
    CodecWarnings& operator=(const CodecWarnings&) = delete;
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
    std::vector<std::string>* previous_;
};

void initialiseDcmtk() {
    static std::once_flag once;
    std::call_once(once, [] {
        DJDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
        DcmRLEDecoderRegistration::registerCodecs();
        // DCMTK's own warnings would reach standard error; the caller reports failures itself.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        // The JPEG and JPEG-LS codecs' warnings go to the collector alone (not to the console).
        const log4cplus::SharedAppenderPtr collector(new WarningCollector);
        for (const char* name : {"dcmtk.dcmjpeg", "dcmtk.dcmjpls"}) {
            log4cplus::Logger logger = log4cplus::Logger::getInstance(name);
            logger.setAdditivity(false);
            logger.setLogLevel(log4cplus::WARN_LOG_LEVEL);
            logger.addAppender(collector);
        }
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

DcmPixelData* pixelDataOf(DcmDataset& data) {
    DcmElement* element = nullptr;
    return data.findAndGetElement(DCM_PixelData, element).good() ? dynamic_cast<DcmPixelData*>(element) : nullptr;
}

// The first frame's codestream: the fragments after the offset table up to the fragment that
// starts the next frame (each frame's codestream starts with the SOC and SIZ markers).
Result<std::vector<std::uint8_t>> firstFrameCodestream(DcmDataset& data) {
    DcmPixelData* pixelData = pixelDataOf(data);
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

// The bytes the header declares for every frame (Bits Allocated 1 packs eight samples to a
// byte; YBR_FULL_422 and YBR_PARTIAL_422 store two samples a pixel: Y Y Cb Cr for two pixels).
std::uint64_t declaredPixelBytes(DcmDataset& data) {
    Uint16 rows = 0, columns = 0, samples = 1, bitsAllocated = 0;
    Sint32 frames = 1;
    OFString photometric;
    data.findAndGetUint16(DCM_Rows, rows);
    data.findAndGetUint16(DCM_Columns, columns);
    data.findAndGetUint16(DCM_SamplesPerPixel, samples);
    data.findAndGetUint16(DCM_BitsAllocated, bitsAllocated);
    data.findAndGetSint32(DCM_NumberOfFrames, frames);
    data.findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    if (samples == 3 && (photometric == "YBR_FULL_422" || photometric == "YBR_PARTIAL_422")) samples = 2;
    const std::uint64_t bits = std::uint64_t{rows} * columns * samples * bitsAllocated *
                               static_cast<std::uint64_t>(std::max<Sint32>(frames, 1));
    return (bits + 7) / 8;
}

// DCMTK fills uncompressed pixel data that ends early with zeros (and allocates the whole
// frame for any length, 100 bytes declaring 10000 x 10000 too): the length must be the one
// the header declares, or one more where that is odd (DICOM pads values to even lengths).
Status checkNativeLength(DcmDataset& data, DcmPixelData& pixels) {
    const std::uint64_t expected = declaredPixelBytes(data);
    const std::uint64_t length = pixels.getLength();
    if (length == expected || (expected % 2 == 1 && length == expected + 1)) return Done{};
    return Error{"Pixel Data holds " + std::to_string(length) + " bytes where the header declares " +
                 std::to_string(expected)};
}

std::uint32_t little32(const Uint8* bytes) {
    return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
           (std::uint32_t{bytes[3]} << 24);
}

// The bytes one PackBits segment decodes to, counted up to `needed` (what follows is padding).
std::uint64_t rleSegmentLength(const Uint8* segment, std::size_t size, std::uint64_t needed) {
    std::uint64_t produced = 0;
    std::size_t at = 0;
    while (at < size && produced < needed) {
        const auto header = static_cast<std::int8_t>(segment[at++]);
        if (header >= 0) {  // header + 1 literal bytes
            const std::size_t run = static_cast<std::size_t>(header) + 1;
            if (run > size - at) break;
            produced += run;
            at += run;
        } else if (header != -128) {  // the next byte, 1 - header times
            if (at == size) break;
            produced += static_cast<std::uint64_t>(1 - header);
            ++at;
        }
    }
    return produced;
}

// DCMTK's RLE decoder neither checks nor says that a segment decodes to fewer bytes than
// the frame needs: the rest of the frame is whatever the heap held. Each segment of the
// first frame (one fragment, after the offset table) must decode to Rows x Columns bytes.
Status checkRleFirstFrame(DcmDataset& data, DcmPixelData& pixels) {
    E_TransferSyntax key = EXS_Unknown;
    const DcmRepresentationParameter* parameter = nullptr;
    pixels.getOriginalRepresentationKey(key, parameter);
    DcmPixelSequence* sequence = nullptr;
    DcmPixelItem* item = nullptr;
    Uint8* bytes = nullptr;
    if (pixels.getEncapsulatedRepresentation(key, parameter, sequence).bad() || sequence == nullptr ||
        sequence->getItem(item, 1).bad() || item->getUint8Array(bytes).bad() || bytes == nullptr)
        return Error{"RLE pixel data holds no frame"};
    const std::size_t size = item->getLength();
    Uint16 rows = 0, columns = 0, samples = 1, bitsAllocated = 0;
    data.findAndGetUint16(DCM_Rows, rows);
    data.findAndGetUint16(DCM_Columns, columns);
    data.findAndGetUint16(DCM_SamplesPerPixel, samples);
    data.findAndGetUint16(DCM_BitsAllocated, bitsAllocated);
    const std::uint64_t segments = std::uint64_t{samples} * ((bitsAllocated + 7u) / 8u);
    if (size < 64) return Error{"RLE frame shorter than its header"};
    if (little32(bytes) != segments)
        return Error{"RLE frame of " + std::to_string(little32(bytes)) + " segments where the header needs " +
                     std::to_string(segments)};
    const std::uint64_t needed = std::uint64_t{rows} * columns;
    for (std::uint64_t i = 0; i < segments; ++i) {
        const std::uint64_t start = little32(bytes + 4 + 4 * i);
        const std::uint64_t end = i + 1 < segments ? little32(bytes + 8 + 4 * i) : size;
        if (start < 64 || start > end || end > size) return Error{"RLE frame with a damaged segment table"};
        const std::uint64_t produced = rleSegmentLength(bytes + start, static_cast<std::size_t>(end - start), needed);
        if (produced < needed)
            return Error{"RLE segment " + std::to_string(i + 1) + " decodes to " + std::to_string(produced) + " of " +
                         std::to_string(needed) + " bytes"};
    }
    return Done{};
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

// The patient and study tags, with the character set they are written in, copied into a data set
// of their own: converting that one to UTF-8 touches nothing else of the file, and a value that
// does not convert costs only the conversion (the values are then taken as they are).
DicomIdentity readIdentity(DcmDataset& data) {
    static const DcmTagKey tags[] = {DCM_SpecificCharacterSet, DCM_PatientName, DCM_PatientID,
                                     DCM_PatientBirthDate,     DCM_PatientSex,  DCM_StudyDate,
                                     DCM_AccessionNumber,      DCM_ViewPosition};
    DcmDataset subset;
    for (const DcmTagKey& tag : tags) {
        DcmElement* copy = nullptr;
        if (data.findAndGetElement(tag, copy, OFFalse, OFTrue).good() && copy != nullptr && subset.insert(copy).bad())
            delete copy;
    }
    if (subset.tagExists(DCM_SpecificCharacterSet)) {
        DcmDataset converted(subset);
        if (converted.convertToUTF8().good()) subset = converted;
    }
    const auto text = [&](const DcmTagKey& tag) {
        OFString value;
        // The whole value, all its parts (a value may hold several, separated by '\').
        if (subset.findAndGetOFStringArray(tag, value).bad()) return std::string();
        return std::string(value.c_str(), value.length());
    };
    DicomIdentity identity;
    identity.patientName = readablePersonName(text(DCM_PatientName));
    identity.patientId = displayText(text(DCM_PatientID));
    identity.birthDate = readableDate(text(DCM_PatientBirthDate));
    identity.sex = displayText(text(DCM_PatientSex));
    identity.studyDate = readableDate(text(DCM_StudyDate));
    identity.accessionNumber = displayText(text(DCM_AccessionNumber));
    identity.viewPosition = displayText(text(DCM_ViewPosition));
    return identity;
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
    auto decoded = decodeDicomPicture(bytes, maxPixels);
    if (!decoded) return decoded.error();
    return std::move(decoded->image);
}

Result<DicomPicture> decodeDicomPicture(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels) {
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
    DicomIdentity identity = readIdentity(*data);
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

    const DcmXfer pixelSyntax(xfer);
    if (DcmPixelData* pixels = pixelDataOf(*data); pixels == nullptr) {
        return Error{"DICOM file holds no image (Pixel Data is not pixel data)"};
    } else if (!pixelSyntax.isEncapsulated()) {
        if (auto whole = checkNativeLength(*data, *pixels); !whole) return Error{"DICOM " + whole.error().message};
    } else if (xfer == EXS_RLELossless) {
        if (auto whole = checkRleFirstFrame(*data, *pixels); !whole)
            return Error{"DICOM pixel data damaged (" + whole.error().message + ")"};
    }

    // First frame only; a codec warning (corrupt JPEG data) refuses it like a failure.
    CodecWarnings warnings;
    DicomImage image(data, xfer, CIF_MayDetachPixelData, 0, 1);
    if (!warnings.lines().empty()) return Error{"DICOM pixel data damaged (" + warnings.lines().front() + ")"};
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
    if (!warnings.lines().empty()) return Error{"DICOM pixel data damaged (" + warnings.lines().front() + ")"};
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
    return DicomPicture{Image(bgr), std::move(identity)};
}

}  // namespace orvix
