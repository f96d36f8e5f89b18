#include "orvix/ResourceLocator.h"

#include <system_error>

namespace orvix {
namespace {

std::filesystem::path executableDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

std::filesystem::path installedModelDirectory() { return ORVIX_INSTALL_MODEL_DIR; }

std::vector<std::filesystem::path> modelSearchDirectories(const EnvironmentLookup& environment,
                                                          const std::filesystem::path& executableDirectory,
                                                          const std::filesystem::path& installDirectory) {
    if (auto chosen = environment("ORVIX_MODEL_DIR")) return {*chosen};
    std::vector<std::filesystem::path> dirs;
    if (!executableDirectory.empty()) {
        dirs.push_back(executableDirectory / "models");
        dirs.push_back((executableDirectory / ".." / "share" / "orvix" / "models").lexically_normal());
    }
    dirs.push_back(installDirectory);
    return dirs;
}

std::vector<std::filesystem::path> modelSearchDirectories() {
    return modelSearchDirectories(processEnvironment, executableDirectory(), installedModelDirectory());
}

Result<std::filesystem::path> findResource(const std::string& name, const std::string& extension,
                                           const std::vector<std::filesystem::path>& directories) {
    const std::string file = name + "." + extension;
    std::string searched;
    for (const auto& dir : directories) {
        std::error_code ec;
        if (std::filesystem::is_directory(dir / file, ec)) return dir / file;
        searched += (searched.empty() ? "" : ", ") + dir.string();
    }
    return Error{"model resource " + file + " not found; searched " + searched};
}

Result<std::filesystem::path> urlForResource(const std::string& name, const std::string& extension) {
    return findResource(name, extension, modelSearchDirectories());
}

}  // namespace orvix
