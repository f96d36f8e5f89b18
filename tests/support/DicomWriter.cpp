#include "DicomWriter.h"

#include <memory>
#include <stdexcept>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcrleerg.h>
#include <dcmtk/dcmdata/dcuid.h>

namespace orvix::test {
namespace {

void check(const OFCondition& c, const char* what) {
    if (c.bad()) throw std::runtime_error(std::string(what) + ": " + c.text());
}

void putCommon(DcmDataset* ds, const char* sopClass) {
    check(ds->putAndInsertString(DCM_SOPClassUID, sopClass), "SOPClassUID");
    check(ds->putAndInsertString(DCM_SOPInstanceUID, "1.2.826.0.1.3680043.2.1125.1.1"), "SOPInstanceUID");
    check(ds->putAndInsertString(DCM_PatientName, "Test^Patient"), "PatientName");
    check(ds->putAndInsertString(DCM_PatientID, "ORVIX-TEST"), "PatientID");
}

}  // namespace

void writeDicom(const std::filesystem::path& path, const DicomSpec& s) {
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    putCommon(ds, UID_SecondaryCaptureImageStorage);
    check(ds->putAndInsertString(DCM_Modality, "CR"), "Modality");
    check(ds->putAndInsertUint16(DCM_SamplesPerPixel, s.rgb ? 3 : 1), "SamplesPerPixel");
    check(ds->putAndInsertString(DCM_PhotometricInterpretation,
                                 s.rgb && s.photometric == "MONOCHROME2" ? "RGB" : s.photometric.c_str()),
          "Photometric");
    if (s.rgb) check(ds->putAndInsertUint16(DCM_PlanarConfiguration, 0), "PlanarConfiguration");
    check(ds->putAndInsertUint16(DCM_Rows, static_cast<Uint16>(s.height)), "Rows");
    check(ds->putAndInsertUint16(DCM_Columns, static_cast<Uint16>(s.width)), "Columns");
    check(ds->putAndInsertUint16(DCM_BitsAllocated, static_cast<Uint16>(s.bitsAllocated)), "BitsAllocated");
    check(ds->putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(s.bitsStored)), "BitsStored");
    check(ds->putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(s.bitsStored - 1)), "HighBit");
    check(ds->putAndInsertUint16(DCM_PixelRepresentation, 0), "PixelRepresentation");
    if (s.frames > 1) check(ds->putAndInsertString(DCM_NumberOfFrames, std::to_string(s.frames).c_str()), "Frames");
    if (s.window) {
        check(ds->putAndInsertString(DCM_WindowCenter, std::to_string(s.window->first).c_str()), "WindowCenter");
        check(ds->putAndInsertString(DCM_WindowWidth, std::to_string(s.window->second).c_str()), "WindowWidth");
    }
    if (!s.voiLutFunction.empty()) check(ds->putAndInsertString(DCM_VOILUTFunction, s.voiLutFunction.c_str()), "VOI");
    if (s.rescale) {
        check(ds->putAndInsertString(DCM_RescaleSlope, std::to_string(s.rescale->first).c_str()), "RescaleSlope");
        check(ds->putAndInsertString(DCM_RescaleIntercept, std::to_string(s.rescale->second).c_str()), "Intercept");
    }
    if (!s.jpeg.empty()) {
        // An empty offset table, then the codestream as the one fragment.
        auto sequence = std::make_unique<DcmPixelSequence>(DCM_PixelSequenceTag);
        sequence->insert(new DcmPixelItem(DCM_PixelItemTag));
        auto* fragment = new DcmPixelItem(DCM_PixelItemTag);
        check(fragment->putUint8Array(s.jpeg.data(), static_cast<unsigned long>(s.jpeg.size())), "fragment");
        sequence->insert(fragment);
        auto pixels = std::make_unique<DcmPixelData>(DCM_PixelData);
        pixels->putOriginalRepresentation(EXS_JPEGProcess1, nullptr, sequence.release());
        check(ds->insert(pixels.release(), true), "Pixels");
    } else if (s.bitsAllocated == 8) {
        std::vector<Uint8> bytes(s.samples.begin(), s.samples.end());
        check(ds->putAndInsertUint8Array(DCM_PixelData, bytes.data(), static_cast<unsigned long>(bytes.size())),
              "Pixels");
    } else {
        check(
            ds->putAndInsertUint16Array(DCM_PixelData, s.samples.data(), static_cast<unsigned long>(s.samples.size())),
            "Pixels");
    }
    E_TransferSyntax xfer = s.jpeg.empty() ? EXS_LittleEndianExplicit : EXS_JPEGProcess1;
    if (s.rle) {
        DcmRLEEncoderRegistration::registerCodecs();
        xfer = EXS_RLELossless;
        check(ds->chooseRepresentation(xfer, nullptr), "RLE");
    }
    for (const DicomText& t : s.text)
        check(ds->putAndInsertOFStringArray(DcmTagKey(t.group, t.element), OFString(t.value.data(), t.value.size())),
              "text element");
    check(file.saveFile(path.c_str(), xfer, EET_ExplicitLength, EGL_recalcGL, EPD_noChange, 0, 0,
                        s.preamble ? EWM_fileformat : EWM_dataset),
          "saveFile");
}

void writeDicomWithoutImage(const std::filesystem::path& path) {
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    putCommon(ds, UID_BasicTextSRStorage);
    check(ds->putAndInsertString(DCM_Modality, "SR"), "Modality");
    check(ds->putAndInsertString(DCM_ValueType, "CONTAINER"), "ValueType");
    check(file.saveFile(path.c_str(), EXS_LittleEndianExplicit), "saveFile");
}

}  // namespace orvix::test
