#pragma once
// Where compiled model resources are found, first match wins:
//   - $ORVIX_MODEL_DIR alone, when it is set: whoever points at other models (a test, a user
//     trying a new model) gets those models or an error, never silently the installed ones;
//   - otherwise <directory of the executable>/models, then <directory of the
//     executable>/../share/orvix/models (the build tree and installs), then the configured
//     install directory <prefix>/share/orvix/models.
// A missing resource is an error listing every directory searched.

#include <filesystem>
#include <string>
#include <vector>

#include "orvix/Environment.h"
#include "orvix/Result.h"

namespace orvix {

// The install directory this build was configured with.
std::filesystem::path installedModelDirectory();

// The search order above; executableDirectory may be empty (unknown).
std::vector<std::filesystem::path> modelSearchDirectories(const EnvironmentLookup& environment,
                                                          const std::filesystem::path& executableDirectory,
                                                          const std::filesystem::path& installDirectory);
std::vector<std::filesystem::path> modelSearchDirectories();  // of this process

// The resource directory "<name>.<extension>" in the first of directories that has it.
Result<std::filesystem::path> findResource(const std::string& name, const std::string& extension,
                                           const std::vector<std::filesystem::path>& directories);
// The same in this process's search directories.
Result<std::filesystem::path> urlForResource(const std::string& name, const std::string& extension);

}  // namespace orvix
