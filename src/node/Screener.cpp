#include "Screener.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>

#include "Log.h"
#include "PathText.h"
#include "ResultObjects.h"
#include "ResultRow.h"
#include "orvix/Heatmap.h"
#include "orvix/Report.h"
#include "orvix/ReportSaver.h"

namespace orvix::node {
namespace {

std::string modelText(const ModelMetadata& metadata) {
    return metadata.name + " sha256:" + metadata.sha256.substr(0, 12);
}

std::string text(DcmItem& item, const DcmTagKey& tag) {
    OFString value;
    return item.findAndGetOFStringArray(tag, value).good() ? std::string(value.c_str()) : std::string();
}

}  // namespace

Screener::Screener(Spool& spool, std::vector<DiagnosisState>& states, const OperatingPoint* point,
                   std::optional<std::filesystem::path> reportsDir, std::function<void()> onPublished)
    : spool_(spool), point_(point), reportsDir_(std::move(reportsDir)), onPublished_(std::move(onPublished)) {
    for (auto& state : states) workers_.emplace_back([this, &state] { work(state); });
}

Screener::~Screener() {
    stop();
    for (auto& worker : workers_) worker.join();
}

void Screener::add(const std::string& uid) {
    {
        const std::lock_guard lock(mutex_);
        if (!queued_.insert(uid).second) return;
        queue_.push_back(uid);
    }
    changed_.notify_one();
}

void Screener::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

void Screener::work(DiagnosisState& state) {
    for (;;) {
        std::string uid;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            uid = std::move(queue_.front());
            queue_.pop_front();
        }
        screen(state, uid);
        {
            const std::lock_guard lock(mutex_);
            queued_.erase(uid);
        }
    }
}

void Screener::screen(DiagnosisState& state, const std::string& uid) {
    namespace fs = std::filesystem;
    const fs::path film = spool_.film(uid);
    std::error_code ec;
    if (!fs::exists(film, ec)) return;  // screened by an earlier entry of the queue

    // A film whose line was committed before a stop only needs moving and publishing.
    if (!spool_.screened(uid)) {
        spool_.settleStaged(uid);  // what a stop left staged is not this screening's
        DcmFileFormat file;
        // A film that DCMTK cannot read again is still screened (and refused there, with the
        // core's reason); its results then carry no patient or study.
        file.loadFile(film.c_str(), EXS_Unknown, EGL_noChange, 4096);  // the pixels stay on disk
        DcmDataset& dataset = *file.getDataset();
        std::string calling = text(*file.getMetaInfo(), DCM_SourceApplicationEntityTitle);

        const cli::Analysis analysis = cli::analysePicture({film, {}}, state, false, point_,
                                                           reportsDir_ ? PictureDigest::Taken : PictureDigest::Skipped);
        const cli::Row& row = analysis.row;
        const bool analysed = row.result.status == ImportStatus::Analysed;
        Screening screening;
        screening.verdict = analysed ? row.verdict : "";
        screening.reason = analysed ? "" : row.result.message;
        screening.operatingPoint = row.operatingPoint;
        if (analysed) {
            const ModelMetadata& disease = state.model->model.metadata();
            screening.diseaseModel = modelText(disease);
            screening.gateModel = modelText(state.model2->model.metadata());
            if (row.result.gate) {
                const auto& probabilities = row.result.gate->classLabelProbs;
                if (const auto it = probabilities.find("X-Ray"); it != probabilities.end())
                    screening.gateProbability = it->second;
            }
            if (row.isChestXRay && row.result.disease) {
                const DiseaseAnswer answer =
                    diseaseAnswer(point_ ? withOperatingPoint(disease, *point_) : disease, state.diseaseProbability);
                screening.pneumoniaProbability = answer.probability;
                screening.threshold = answer.threshold;
                screening.borderline = answer.borderline;
            }
        }

        Status written = writeReportObject(dataset, screening, spool_.staged(uid + ".sr.dcm"));
        if (written && analysed) {
            const Image picture = captureBase(state.img.get());
            const bool heatmap = row.isChestXRay && !state.activationMap.get().empty();
            const cv::Mat shown = heatmap ? heatmapPicture(picture, state.activationMap.get()) : picture.pixels();
            written = writeCaptureObject(dataset, capturePicture(shown, screening), spool_.staged(uid + ".sc.dcm"));
        }
        if (written && analysed && reportsDir_) {
            // As orvix-screen does: a film screened again replaces its own report, and another
            // picture's report of the same name is kept beside it.
            auto saved = saveReport(*reportsDir_, analysis.fileName, analysis.report, analysis.origin,
                                    [](const ReportClash&) { return ClashChoice::KeepBoth; });
            if (!saved) written = saved.error();
        }
        if (!written) {
            Log(Level::Error) << film.string()
                              << ": results not written, the film stays in the spool: " << written.error().message;
            return;
        }
        nlohmann::json line = cli::jsonRow(row);
        line["path"] = cli::pathText(spool_.done(uid).native());  // where the film is kept from now on
        line["sopInstanceUid"] = uid;
        line["studyInstanceUid"] = text(dataset, DCM_StudyInstanceUID);
        line["callingAet"] = calling;
        if (auto committed = spool_.commit(uid, cli::jsonText(line)); !committed) {
            Log(Level::Error) << film.string()
                              << ": not committed, screened again later: " << committed.error().message;
            return;
        }
        if (analysed)
            Log(Level::Info) << "screened " << uid << ": " << row.verdict
                             << (screening.pneumoniaProbability
                                     ? ", pneumonia probability " + std::to_string(*screening.pneumoniaProbability)
                                     : std::string());
        else Log(Level::Warning) << "screened " << uid << ": not analysed: " << row.result.message;
    }
    if (auto moved = moveDurably(film, spool_.done(uid)); !moved) {
        Log(Level::Error) << moved.error().message;
        return;
    }
    if (!spool_.settleStaged(uid).empty() && onPublished_) onPublished_();
}

}  // namespace orvix::node
