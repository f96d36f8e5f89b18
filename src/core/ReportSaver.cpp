#include "orvix/ReportSaver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvix {
namespace {

std::filesystem::path homeDirectory(const EnvironmentLookup& environment) {
    if (auto home = environment("HOME")) return *home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
    return "/";
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" (quoted, $HOME-relative or absolute).
std::optional<std::filesystem::path> xdgDocuments(const std::filesystem::path& home,
                                                  const std::optional<std::string>& configHome) {
    const std::filesystem::path file =
        (configHome && configHome->starts_with('/') ? std::filesystem::path(*configHome) : home / ".config") /
        "user-dirs.dirs";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
        value = value.substr(1, value.size() - 2);
        std::filesystem::path dir;
        if (value.rfind("$HOME", 0) == 0) dir = home.string() + value.substr(5);
        else if (!value.empty() && value.front() == '/') dir = value;
        else return std::nullopt;
        // A documents directory set to $HOME itself means "disabled".
        if ((dir / "").lexically_normal() == (home / "").lexically_normal()) return std::nullopt;
        return dir;
    }
    return std::nullopt;
}

Status failure(const std::filesystem::path& path, const std::string& why) {
    return Error{"cannot save " + path.string() + ": " + why};
}

}  // namespace

std::filesystem::path documentsDirectory(const EnvironmentLookup& environment) {
    const auto home = homeDirectory(environment);
    return xdgDocuments(home, environment("XDG_CONFIG_HOME")).value_or(home / "Documents");
}

std::filesystem::path documentsDirectory() { return documentsDirectory(processEnvironment); }

std::string reportFileName(const std::string& fileName) { return "output_" + fileName + ".txt"; }

Status writeFileAtomically(const std::filesystem::path& path, std::string_view content) {
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
    // A short temporary name, so that a target name near the file system's limit still works.
    std::string temp = (dir / ".orvix-save-XXXXXX").string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return failure(path, std::strerror(errno));

    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return failure(path, std::strerror(err));
    };
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) return abandon(errno);
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return abandon(errno);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return abandon(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return failure(path, std::strerror(err));
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return failure(path, std::strerror(err));
    }
    // Make the rename itself durable.
    if (const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return Done{};
}

Status saveReport(DiagnosisState& state, const std::filesystem::path& directory) {
    const std::string text = state.fullText;
    const std::filesystem::path path = directory / reportFileName(state.fileName);
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);  // XDG: create a missing user directory
    if (ec) return failure(path, ec.message());
    auto written = writeFileAtomically(path, text);
    if (!written) return written;
    state.showAlert = true;
    return Done{};
}

Status saveReport(DiagnosisState& state) { return saveReport(state, documentsDirectory()); }

}  // namespace orvix
