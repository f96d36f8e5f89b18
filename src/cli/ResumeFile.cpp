#include "ResumeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <nlohmann/json.hpp>

#include "PathText.h"

namespace orvix::cli {
namespace {

std::string reason(int err) { return std::strerror(err); }

// Whether text is the start of a JSON object that a stop cut short: the parser runs out of
// input rather than meeting a wrong byte.
bool isCutObject(const std::string& text) {
    if (text.empty() || text.front() != '{') return false;
    try {
        const auto whole = nlohmann::json::parse(text);
        (void)whole;
        return false;  // a whole object without its line feed: not how this tool writes
    } catch (const nlohmann::json::parse_error& e) {
        return e.byte == text.size() + 1;
    }
}

}  // namespace

std::optional<FileStamp> fileStamp(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{static_cast<std::uintmax_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

ResumeFile::ResumeFile(ResumeFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), size_(other.size_),
      answers_(std::move(other.answers_)), outputs_(std::move(other.outputs_)) {}

ResumeFile::~ResumeFile() {
    if (fd_ >= 0) ::close(fd_);
}

Result<ResumeFile> ResumeFile::open(const std::filesystem::path& path) {
    ResumeFile file;
    file.path_ = path;
    const std::string name = path.string();
    // Opening creates a missing file and changes nothing in an existing one; everything that
    // writes comes after the checks.
    file.fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (file.fd_ < 0) return Error{"cannot open " + name + ": " + reason(errno)};
    struct stat st {};
    if (::fstat(file.fd_, &st) != 0) return Error{"cannot look at " + name + ": " + reason(errno)};
    if (!S_ISREG(st.st_mode)) return Error{name + " is not a regular file"};
    // Two runs appending to one file would each analyse and record every picture.
    if (::flock(file.fd_, LOCK_EX | LOCK_NB) != 0)
        return Error{errno == EWOULDBLOCK ? name + " is in use by another orvix-screen run"
                                          : "cannot lock " + name + ": " + reason(errno)};
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxResumeBytes)
        return Error{name + " is larger than 256 MiB, the most a resume file holds"};

    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::pread(file.fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Error{"cannot read " + name + ": " + (n < 0 ? reason(errno) : "it shrank while read")};
        done += static_cast<std::size_t>(n);
    }

    const std::size_t end = text.rfind('\n') + 1;  // npos + 1 == 0
    std::size_t number = 0;
    for (std::size_t at = 0; at < end;) {
        const std::size_t lineEnd = text.find('\n', at);
        const auto row = nlohmann::json::parse(text.begin() + static_cast<std::ptrdiff_t>(at),
                                               text.begin() + static_cast<std::ptrdiff_t>(lineEnd), nullptr, false);
        at = lineEnd + 1;
        ++number;
        if (row.is_discarded() || !row.is_object() || !row.contains("path") || !row["path"].is_string() ||
            !row.contains("status") || !row["status"].is_string())
            return Error{name + " line " + std::to_string(number) + " is not a row of orvix-screen --json"};
        const std::string picture = row["path"];
        Answer& answer = file.answers_[picture];  // a later line (a retried picture) replaces an earlier one
        answer = {row["status"] != "ok", std::nullopt};
        if (row.contains("fileSize") && row["fileSize"].is_number_unsigned() && row.contains("fileModified") &&
            row["fileModified"].is_number_integer())
            answer.stamp = FileStamp{row["fileSize"], row["fileModified"]};
        for (const char* kind : {"report", "heatmap"})
            if (row.contains(kind) && row[kind].is_string())
                file.outputs_.push_back({kind, readPathText(row[kind].get<std::string>()), readPathText(picture)});
    }
    if (end != text.size()) {
        if (!isCutObject(text.substr(end)))
            return Error{name + (end == 0 ? " is not a file of orvix-screen --resume"
                                          : " ends in a line that is not a row of orvix-screen --json")};
        if (::ftruncate(file.fd_, static_cast<off_t>(end)) != 0)
            return Error{"cannot cut the unfinished last line of " + name + ": " + reason(errno)};
    }
    file.size_ = end;
    return file;
}

bool ResumeFile::answered(const std::filesystem::path& picture) const {
    const auto it = answers_.find(pathText(picture.native()));
    if (it == answers_.end()) return false;
    return !it->second.refused || it->second.stamp == fileStamp(picture);
}

Status ResumeFile::append(std::string_view line) {
    if (size_ + line.size() > kMaxResumeBytes)
        return Error{"not appending to " + path_.string() +
                     ": it would grow past 256 MiB, the most a resume file holds (go on with another file)"};
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            // Half a line would be cut off by the next run anyway; without it the file stays whole now.
            if (done > 0) (void)::ftruncate(fd_, static_cast<off_t>(size_));
            return Error{"cannot append to " + path_.string() + ": " + reason(err)};
        }
        done += static_cast<std::size_t>(n);
    }
    size_ += line.size();
    return Done{};
}

}  // namespace orvix::cli
