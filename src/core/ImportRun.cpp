#include "orvix/ImportRun.h"

#include "orvix/Console.h"
#include "orvix/Digest.h"
#include "orvix/FileUrl.h"
#include "orvix/ImageDecoder.h"
#include "orvix/Report.h"

namespace orvix {
namespace {

// Read and decode; the file's bytes are released before the classifiers run.
ImportResult readPicture(const std::filesystem::path& url, Image& picture, PictureOrigin& origin,
                         PictureDigest digest) {
    auto bytes = readWholeFile(url);
    if (!bytes) return {ImportStatus::Unreadable, bytes.error().message, {}, {}};
    auto decoded = decodePicture(bytes.value());
    if (!decoded) return {ImportStatus::Undecodable, url.string() + ": " + decoded.error().message, {}, {}};
    picture = std::move(decoded->image);
    // The digest of the bytes analysed, not of the file as it may be when the report is saved.
    origin = {url,
              digest == PictureDigest::Taken ? sha256Hex(std::span<const std::uint8_t>(bytes.value())) : std::string(),
              std::move(decoded->dicom)};
    return {ImportStatus::Analysed, {}, {}, {}};
}

}  // namespace

ImportResult importImage(const ImporterOutcome& outcome, DiagnosisState& state, Preparation preparation,
                         PictureDigest digest) {
    if (!outcome.url) {
        printConsoleLine("Error happend");
        return {ImportStatus::ImporterFailed, outcome.error, {}, {}};
    }
    const std::filesystem::path& url = *outcome.url;
    printConsoleLine(fileURLString(url));
    // Security-scoped access has no counterpart on this platform; it would begin here.

    Image picture;
    PictureOrigin origin;
    ImportResult result = readPicture(url, picture, origin, digest);
    if (result.status == ImportStatus::Analysed) {
        state.origin = std::move(origin);
        state.fileName = lastPathComponent(url);
        state.img = std::move(picture);
        state.activationMap = ActivationMap{};  // the previous picture's
        const Result<PixelBuffer> prepared = preparePicture(state.img);
        auto gate = classifyXRay(state, prepared);
        auto disease =
            classifyPneumonia(state, preparation == Preparation::Shared ? prepared : preparePicture(state.img));
        // The disease model's answer only when it gave one for this picture (a failed stage leaves the
        // previous picture's probability in the state).
        std::optional<DiseaseAnswer> answer;
        if (disease) answer = diseaseAnswer(state.model->model.metadata(), state.diseaseProbability);
        state.fullText = composeReport(state.fileName, patientNameOf(state.origin.get()), state.classificationLabel2,
                                       state.classificationLabel, state.accuracy, answer, Clock::now());
        if (gate) result.gate = std::move(gate).value();
        if (disease) result.disease = std::move(disease).value();
        if (!gate || !disease) {
            result.status = ImportStatus::Unclassified;
            result.message = url.string() + ": not classified (" + (gate ? disease : gate).error().message + ")";
            printDiagnostic("orvix: cannot analyse " + result.message);
        }
    } else {
        printDiagnostic("orvix: cannot analyse " + result.message);
    }
    // ...and end here.
    state.showAlert = false;
    return result;
}

}  // namespace orvix
