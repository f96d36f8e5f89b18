#include "Spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include <dcmtk/dcmdata/dcfilefo.h>
#include <nlohmann/json.hpp>

namespace orvix::node {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTempMark = ".tmp-";
constexpr std::string_view kStagedEnd = ".staged";

Error failure(const fs::path& path, const std::string& reason) { return Error{path.string() + ": " + reason}; }

int syncPath(const fs::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return errno;
    const int result = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

int syncFolder(const fs::path& dir) { return syncPath(dir.empty() ? fs::path(".") : dir, O_RDONLY | O_DIRECTORY); }

std::string tempName(const fs::path& target) {
    static thread_local std::mt19937_64 random(std::random_device{}());
    return "." + target.filename().string() + std::string(kTempMark) + std::to_string(::getpid()) + "-" +
           std::to_string(random() % 1000000000);
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

std::string filmOfObject(std::string_view name) {
    if (!name.empty() && name.front() == '.') name.remove_prefix(1);
    // A UID holds digits and dots only: the first ".s" starts ".sr" or ".sc".
    return std::string(name.substr(0, name.find(".s")));
}

bool isUid(std::string_view text) {
    return !text.empty() && text.size() <= 64 && text.find_first_not_of("0123456789.") == std::string_view::npos &&
           text.front() != '.' && text.back() != '.' && text.find("..") == std::string_view::npos;
}

Status saveDicomDurably(DcmFileFormat& file, int xfer, const fs::path& target) {
    const fs::path temp = target.parent_path() / tempName(target);
    const OFCondition saved = file.saveFile(temp.c_str(), static_cast<E_TransferSyntax>(xfer), EET_ExplicitLength,
                                            EGL_recalcGL, EPD_withoutPadding, 0, 0, EWM_updateMeta);
    if (saved.bad()) {
        ::unlink(temp.c_str());
        return failure(target, saved.text());
    }
    if (const int err = syncPath(temp, O_RDONLY)) {
        ::unlink(temp.c_str());
        return failure(target, std::strerror(err));
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return failure(target, std::strerror(err));
    }
    if (const int err = syncFolder(target.parent_path())) return failure(target.parent_path(), std::strerror(err));
    return Done{};
}

Status moveDurably(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        return Error{"cannot move " + from.string() + " to " + to.string() + ": " + std::strerror(errno)};
    for (const auto& dir : {to.parent_path(), from.parent_path()})
        if (const int err = syncFolder(dir)) return failure(dir, std::strerror(err));
    return Done{};
}

Spool::Spool(Spool&& other) noexcept : dir_(std::move(other.dir_)), screened_(std::move(other.screened_)) {}

Result<Spool> Spool::open(const fs::path& dir, Layout layout) {
    Spool spool;
    spool.dir_ = dir;
    std::error_code ec;
    std::vector<fs::path> folders{dir};
    if (layout == Layout::Node) folders.insert(folders.end(), {dir / "done", dir / "outbox", dir / "sent"});
    for (const auto& sub : folders) {
        fs::create_directories(sub, ec);
        if (ec) return Error{"cannot create " + sub.string() + ": " + ec.message()};
        if (::access(sub.c_str(), W_OK | X_OK) != 0) return failure(sub, std::strerror(errno));
        for (const auto& entry : fs::directory_iterator(sub, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.find(kTempMark) != std::string::npos && entry.is_regular_file(ec)) fs::remove(entry.path(), ec);
        }
    }
    if (layout == Layout::FilmsOnly) return spool;

    // Each line that ends in a line feed was committed; a last one without was cut short by a
    // stop before it was flushed, so it commits nothing and is cut off.
    const fs::path results = spool.resultsFile();
    std::ifstream in(results, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    const auto end = text.rfind('\n');
    const std::size_t complete = end == std::string::npos ? 0 : end + 1;
    if (complete < text.size()) {
        if (::truncate(results.c_str(), static_cast<off_t>(complete)) != 0)
            return failure(results, std::strerror(errno));
        text.resize(complete);
    }
    std::size_t start = 0;
    for (std::size_t lineNumber = 1; start < text.size(); ++lineNumber) {
        const auto stop = text.find('\n', start);
        const auto row = nlohmann::json::parse(text.substr(start, stop - start), nullptr, false);
        if (!row.is_object() || !row.contains("sopInstanceUid") || !row["sopInstanceUid"].is_string())
            return failure(results, "line " + std::to_string(lineNumber) + " is not a result of orvix-node");
        spool.screened_.insert(row["sopInstanceUid"].get<std::string>());
        start = stop + 1;
    }
    return spool;
}

std::vector<std::string> Spool::pending() const {
    std::vector<std::pair<fs::file_time_type, std::string>> films;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        const fs::path& path = entry.path();
        if (path.extension() == ".dcm" && isUid(path.stem().string()) && entry.is_regular_file(ec))
            films.emplace_back(entry.last_write_time(ec), path.stem().string());
    }
    std::sort(films.begin(), films.end());
    std::vector<std::string> uids;
    for (auto& film : films) uids.push_back(std::move(film.second));
    return uids;
}

bool Spool::screened(const std::string& uid) const {
    const std::lock_guard lock(mutex_);
    return screened_.count(uid) > 0;
}

Status Spool::commit(const std::string& uid, std::string_view line) {
    if (line.find('\n') != std::string_view::npos) return Error{"a result line holds a line feed"};
    const std::string text = std::string(line) + '\n';
    const std::lock_guard lock(mutex_);
    const fs::path path = resultsFile();
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return failure(path, std::strerror(errno));
    struct stat before {};
    ::fstat(fd, &before);
    std::size_t written = 0;
    int err = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            err = errno;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    // A line written in part is taken back, so that the next one starts a line of its own.
    if (err != 0 && ::ftruncate(fd, before.st_size) != 0) err = errno;
    ::close(fd);
    if (err != 0) return failure(path, std::strerror(err));
    screened_.insert(uid);
    return Done{};
}

std::vector<std::string> Spool::settleStaged(const std::string& uid) {
    std::vector<std::string> names;
    const bool committed = screened(uid);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(outbox(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 2 || name[0] != '.' || !endsWith(name, kStagedEnd)) continue;
        const std::string object = name.substr(1, name.size() - 1 - kStagedEnd.size());
        if (filmOfObject(object) != uid) continue;
        if (!committed) {
            fs::remove(entry.path(), ec);
        } else if (::rename(entry.path().c_str(), published(object).c_str()) == 0) {
            names.push_back(object);
        }
    }
    syncFolder(outbox());
    return names;
}

std::vector<std::string> Spool::settleOrphans() {
    std::set<std::string> films;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(outbox(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 1 && name[0] == '.' && endsWith(name, kStagedEnd)) films.insert(filmOfObject(name));
    }
    std::vector<std::string> names;
    for (const auto& uid : films) {
        if (fs::exists(film(uid), ec)) continue;  // its screening is resumed
        auto settled = settleStaged(uid);
        names.insert(names.end(), settled.begin(), settled.end());
    }
    return names;
}

}  // namespace orvix::node
