#include "orvix/ResourceLocator.h"

#include <cstdlib>
#include <system_error>

namespace orvix {
namespace {

std::filesystem::path executableDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

std::vector<std::filesystem::path> modelSearchDirectories() {
    std::vector<std::filesystem::path> dirs;
    if (const char* env = std::getenv("ORVIX_MODEL_DIR"); env != nullptr && *env != '\0') dirs.emplace_back(env);
    if (auto exe = executableDirectory(); !exe.empty()) {
        dirs.push_back(exe / "models");
        dirs.push_back((exe / ".." / "share" / "orvix" / "models").lexically_normal());
    }
    dirs.emplace_back(ORVIX_INSTALL_MODEL_DIR);
    return dirs;
}

Result<std::filesystem::path> urlForResource(const std::string& name, const std::string& extension) {
    const std::string file = name + "." + extension;
    std::string searched;
    for (const auto& dir : modelSearchDirectories()) {
        std::error_code ec;
        if (std::filesystem::is_directory(dir / file, ec)) return dir / file;
        searched += (searched.empty() ? "" : ", ") + dir.string();
    }
    return Error{"model resource " + file + " not found; searched " + searched};
}

}  // namespace orvix
