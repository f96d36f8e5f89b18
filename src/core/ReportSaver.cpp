#include "orvix/ReportSaver.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "orvix/Digest.h"
#include "orvix/ImageDecoder.h"

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

constexpr char kRecordHeader[] = "orvix report record 1";
constexpr int kMaxReportNames = 10000;
// A report is a few hundred bytes; one far larger is not the file a record was written for.
constexpr std::uintmax_t kMaxRecordedReportBytes = 16 << 20;

// The record's name: fixed length, so that a report name near the file system's limit still has one.
std::filesystem::path recordPath(const std::filesystem::path& report) {
    return report.parent_path() / (".orvix-record-" + sha256Hex(report.filename().native()).substr(0, 32));
}

// A path as one line of text: '%', line breaks and other control bytes as %XX.
std::string percentEncoded(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '%') {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string percentDecoded(std::string_view text) {
    const auto digit = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                      : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && digit(text[i + 1]) >= 0 && digit(text[i + 2]) >= 0) {
            out += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

constexpr char kTempPrefix[] = ".orvix-save-";
constexpr std::time_t kStaleAfterSeconds = 60 * 60;
constexpr std::time_t kOrphanAfterSeconds = 60;

// Removes the temporary files that a writer stopped for good (killed, out of power) left in
// dir: ".orvix-save-<pid>-XXXXXX" untouched for a minute whose process is gone here, and any
// of ours untouched for an hour (a pid used again, the names without a pid). The minute spares
// a writer on another machine that shares the folder, whose pid means nothing here: a save
// takes well under a second. Once per folder and process: a batch saves thousands of files
// into one folder.
void removeStaleTemporaries(const std::filesystem::path& dir) {
    static std::mutex mutex;
    static std::set<std::filesystem::path> swept;
    {
        const std::lock_guard lock(mutex);
        if (!swept.insert(dir).second) return;
    }
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) return;
    const int dirFd = ::dirfd(listing);
    const std::time_t now = std::time(nullptr);
    const std::string_view prefix = kTempPrefix;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix)) continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        bool gone = now - st.st_mtime > kStaleAfterSeconds;
        const std::string_view rest = name.substr(prefix.size());
        if (const auto dash = rest.find('-');
            !gone && now - st.st_mtime > kOrphanAfterSeconds && dash != std::string_view::npos) {
            const std::string pid(rest.substr(0, dash));
            if (!pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos && pid.size() < 10) {
                const long id = std::stol(pid);
                gone = id != ::getpid() && ::kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH;
            }
        }
        if (gone) ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(listing);
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
    removeStaleTemporaries(dir);
    // A short temporary name, so that a target name near the file system's limit still works;
    // the writer's pid in it tells a later save whether the file is left over.
    std::string temp = (dir / (kTempPrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return failure(path, std::strerror(errno));

    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return failure(path, std::strerror(err));
    };
    // A file saved again keeps its permissions (a report kept to its owner stays so); a new one
    // gets those that the umask leaves.
    mode_t mode = 0;
    if (struct stat existing{}; ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0) return abandon(errno);
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

std::string reportFileName(const std::string& fileName, int n) {
    return n <= 1 ? reportFileName(fileName) : "output_" + fileName + " (" + std::to_string(n) + ").txt";
}

std::optional<ReportRecord> readReportRecord(const std::filesystem::path& report) {
    std::ifstream in(recordPath(report), std::ios::binary);
    std::string line, reportDigest, pictureDigest, source;
    if (!std::getline(in, line) || line != kRecordHeader) return std::nullopt;
    if (!std::getline(in, line) || !line.starts_with("report ")) return std::nullopt;
    reportDigest = line.substr(7);
    if (!std::getline(in, line) || !line.starts_with("picture ")) return std::nullopt;
    pictureDigest = line.substr(8);
    if (!std::getline(in, line) || !line.starts_with("source ")) return std::nullopt;
    source = percentDecoded(line.substr(7));
    // Only while the report is still the file the record was written with.
    auto bytes = readWholeFile(report, kMaxRecordedReportBytes);
    if (!bytes || sha256Hex(std::span<const std::uint8_t>(*bytes)) != reportDigest) return std::nullopt;
    return ReportRecord{pictureDigest, source};
}

Result<std::optional<std::filesystem::path>> saveReport(const std::filesystem::path& directory,
                                                        const std::string& fileName, std::string_view text,
                                                        const PictureOrigin& picture, const ClashQuestion& ask) {
    const std::filesystem::path first = directory / reportFileName(fileName);
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);  // XDG: create a missing user directory
    if (std::error_code linkEc; ec && std::filesystem::is_symlink(std::filesystem::symlink_status(directory, linkEc)) &&
                                !std::filesystem::exists(directory, linkEc))
        return failure(first, directory.string() + " is a link to nothing (" +
                                  std::filesystem::read_symlink(directory, ec).string() + ")")
            .error();
    if (ec) return failure(first, ec.message()).error();

    // This picture's report, if one of the names holds it; else the first free name.
    std::optional<std::filesystem::path> target;
    std::filesystem::path firstFree;
    std::optional<ReportRecord> firstRecord;
    for (int n = 1; !target && firstFree.empty(); ++n) {
        if (n > kMaxReportNames)
            return failure(first, "every name up to (" + std::to_string(n - 1) + ") is taken").error();
        const std::filesystem::path candidate = directory / reportFileName(fileName, n);
        if (std::error_code statEc; !std::filesystem::exists(std::filesystem::symlink_status(candidate, statEc))) {
            firstFree = candidate;
            break;
        }
        const auto record = readReportRecord(candidate);
        if (n == 1) firstRecord = record;
        if (record && record->pictureSha256 == picture.sha256) target = candidate;
    }
    if (!target && firstFree == first) target = first;
    if (!target) {
        ReportClash clash{first, firstRecord ? std::optional(firstRecord->source) : std::nullopt, firstFree};
        switch (ask(clash)) {
            case ClashChoice::Replace: target = first; break;
            case ClashChoice::KeepBoth: target = firstFree; break;
            case ClashChoice::Cancel: return std::optional<std::filesystem::path>();
        }
    }
    if (auto written = writeFileAtomically(*target, text); !written) return written.error();
    // After the report, naming its digest: were the process stopped between the two, the record there
    // would name the old report's bytes, and the new report would count as nobody's known (asked about),
    // never as the wrong picture's.
    std::string record = std::string(kRecordHeader) + "\nreport " + sha256Hex(text) + "\npicture " + picture.sha256 +
                         "\nsource " + percentEncoded(picture.path.native()) + "\n";
    static_cast<void>(writeFileAtomically(recordPath(*target), record));
    return target;
}

Result<std::optional<std::filesystem::path>> saveReport(DiagnosisState& state, const std::filesystem::path& directory,
                                                        const ClashQuestion& ask) {
    auto saved = saveReport(directory, state.fileName.get(), state.fullText.get(), state.origin.get(), ask);
    if (saved && saved->has_value()) state.showAlert = true;
    return saved;
}

}  // namespace orvix
