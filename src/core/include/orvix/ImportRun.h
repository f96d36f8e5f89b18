#pragma once
// The import run: the file importer's completion.
//
// In order: print the URL; set fileName; read the whole file; decode it; set img;
// classifyXRay; classifyPneumonia; set fullText to the composed report; set
// showAlert to false. An importer failure prints "Error happend" and changes nothing.
//
// A file that cannot be read or decoded keeps fileName as it was (so a later save
// cannot store the previous report under the new file's name), prints one
// diagnostic line naming the file and the reason, and sets showAlert to false.
//
// A picture that decodes but that a stage cannot classify is Unclassified: the
// state is written as far as the stages got (a stage that stopped keeps its
// fields), and the result carries no label of the stage that stopped, so that a
// caller never reports the previous picture's label as this one's.

#include <filesystem>
#include <optional>
#include <string>

#include "orvix/Classification.h"
#include "orvix/DiagnosisState.h"

namespace orvix {

struct ImporterOutcome {
    std::optional<std::filesystem::path> url;  // set on success
    std::string error;                         // why the importer failed otherwise

    static ImporterOutcome success(std::filesystem::path path) { return {std::move(path), {}}; }
    static ImporterOutcome failure(std::string why) { return {std::nullopt, std::move(why)}; }
};

enum class ImportStatus { Analysed, ImporterFailed, Unreadable, Undecodable, Unclassified };

struct ImportResult {
    ImportStatus status = ImportStatus::ImporterFailed;
    std::string message;              // the reason, for the non-analysed statuses
    std::optional<StageResult> gate;  // what each stage said, when it ran
    std::optional<StageResult> disease;
};

// How the stages get the picture: each prepares it afresh (the window), or one preparation
// serves both (the batch tool: the same pixels, one redraw fewer per picture).
enum class Preparation { PerStage, Shared };

// Whether origin.sha256 is taken from the bytes read: a saved report needs it (ReportSaver.h);
// a run that saves no report may skip it (about 12 ms for a 20 MB film).
enum class PictureDigest { Taken, Skipped };

ImportResult importImage(const ImporterOutcome& outcome, DiagnosisState& state,
                         Preparation preparation = Preparation::PerStage, PictureDigest digest = PictureDigest::Taken);

}  // namespace orvix
