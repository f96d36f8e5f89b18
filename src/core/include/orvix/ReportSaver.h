#pragma once
// Saving the report: "output_" + fileName + ".txt" in the user's Documents directory,
// UTF-8 as it stands, replaced atomically (temporary file in the same directory,
// write, fsync, rename over the target, fsync the directory): the previous file
// stays intact unless the new one is complete.

#include <filesystem>
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

// Writes fullText to <directory>/output_<fileName>.txt (creating the directory if it
// is missing) and sets showAlert on success; on failure changes no state and returns why.
Status saveReport(DiagnosisState& state, const std::filesystem::path& directory);
Status saveReport(DiagnosisState& state);  // into documentsDirectory()

}  // namespace orvix
