#pragma once
// Saving the report: "output_" + fileName + ".txt" in the user's Documents directory,
// UTF-8 as it stands, replaced atomically (temporary file in the same directory,
// write, fsync, rename over the target, fsync the directory): the previous file
// stays intact unless the new one is complete.
//
// Pictures of one file name from different folders (PACS exports call every file IM0001)
// come to one report name. So that none replaces another picture's report unasked, each saved
// report has a record beside it: a hidden file ".orvix-record-<32 hex digits>" in the same
// folder (the digits name the report's file name), holding the SHA-256 of the report's bytes,
// the SHA-256 of the picture's bytes and the picture's path. A record counts only while the
// report's bytes still have its digest: one that a crash between the two writes, an edit in
// another program or a copy without it left wrong is no record. A report is this picture's
// when its record names the same picture digest (the same bytes, wherever they lie now); a
// report without a record is nobody's known and is treated as another picture's.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "orvix/DiagnosisState.h"
#include "orvix/Environment.h"
#include "orvix/Result.h"

namespace orvix {

// XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs (~/.config by default),
// else $HOME/Documents ($HOME: the variable, else the user's entry in the password database).
std::filesystem::path documentsDirectory(const EnvironmentLookup& environment);
std::filesystem::path documentsDirectory();  // of this process

std::string reportFileName(const std::string& fileName);

// Writes content to path atomically. Fails, naming the path and the reason, and
// leaves any existing file untouched.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view content);

// The n-th name for fileName's report: "output_<fileName>.txt" for n = 1, else
// "output_<fileName> (n).txt".
std::string reportFileName(const std::string& fileName, int n);

// Who a saved report was written for, as its record says.
struct ReportRecord {
    std::string pictureSha256;
    std::filesystem::path source;
};

// The record of the report at path, when there is one that still describes the report's bytes.
std::optional<ReportRecord> readReportRecord(const std::filesystem::path& report);

// A report of the same name that is not known to be this picture's.
struct ReportClash {
    std::filesystem::path existing;                   // <directory>/output_<fileName>.txt
    std::optional<std::filesystem::path> writtenFor;  // the picture its record names, when it has one
    std::filesystem::path keepBoth;                   // the first free "output_<fileName> (n).txt"
};
enum class ClashChoice { Replace, KeepBoth, Cancel };
using ClashQuestion = std::function<ClashChoice(const ReportClash&)>;

// Writes text as the report of picture, named for fileName, in directory (created if missing),
// with its record. Where the picture has a report there already (output_<fileName>.txt or one
// of its " (n)" names), that one is replaced, without a question. Otherwise a free
// output_<fileName>.txt is written; a taken one is a clash, and ask decides: Replace writes over
// it, KeepBoth writes the first free " (n)" name, Cancel writes nothing. Returns the path
// written, nullopt for Cancel, or why nothing was written (any earlier file stays intact). A
// record that cannot be written does not fail the save: the report is there, and a later save
// treats it as nobody's known.
Result<std::optional<std::filesystem::path>> saveReport(const std::filesystem::path& directory,
                                                        const std::string& fileName, std::string_view text,
                                                        const PictureOrigin& picture, const ClashQuestion& ask);

// The state's report (fullText) of its picture (fileName, origin), as above; sets showAlert when
// a report was written, and changes no state otherwise.
Result<std::optional<std::filesystem::path>> saveReport(DiagnosisState& state, const std::filesystem::path& directory,
                                                        const ClashQuestion& ask);

}  // namespace orvix
