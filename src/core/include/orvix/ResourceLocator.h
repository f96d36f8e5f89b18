#pragma once
// Where compiled model resources are found, first match wins:
//   1. $ORVIX_MODEL_DIR, when set (tests and users pointing at other models);
//   2. <directory of the executable>/models;
//   3. <directory of the executable>/../share/orvix/models (the build tree and installs);
//   4. the configured install directory <prefix>/share/orvix/models.
// A missing resource is an error listing every directory searched.

#include <filesystem>
#include <string>
#include <vector>

#include "orvix/Result.h"

namespace orvix {

std::vector<std::filesystem::path> modelSearchDirectories();

// The resource directory "<name>.<extension>" in the first search directory that has it.
Result<std::filesystem::path> urlForResource(const std::string& name, const std::string& extension);

}  // namespace orvix
