#pragma once
// orvix-screen's resume file: one JSON line per picture answered, the row of --json with what
// a later run needs besides (the report and heatmap files written for it; for a refused
// picture, its file's size and modification time). Written through at once, so that a stop
// loses at most the line being written; a later run cuts that line off and goes on.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvix/Result.h"

namespace orvix::cli {

// The most a resume file holds; a run that would append past it stops instead.
inline constexpr std::uintmax_t kMaxResumeBytes = 256ull * 1024 * 1024;

// What tells that a file changed: its size and modification time, nothing when it cannot be
// looked at (missing, unreadable folder).
struct FileStamp {
    std::uintmax_t size = 0;
    std::int64_t modifiedNs = 0;

    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> fileStamp(const std::filesystem::path& path);

// An output file that an earlier run wrote for a picture: "report" or "heatmap".
struct RecordedOutput {
    std::string kind;
    std::filesystem::path file, picture;
};

class ResumeFile {
public:
    // Opens (creating it when missing) and locks the file, reads what it answers, and cuts off
    // a last line that a stop cut short. Fails, without changing the file, when another run
    // holds it, when it is not a regular file, or when any line is not a line of this tool:
    // a picture or table given by mistake is never written to.
    static Result<ResumeFile> open(const std::filesystem::path& path);

    ResumeFile(ResumeFile&& other) noexcept;
    ResumeFile& operator=(ResumeFile&&) = delete;
    ~ResumeFile();

    // Whether an earlier run answered the picture: analysed, or refused while the file was as
    // it is now (a refused picture that changed since, or came back, is tried again).
    bool answered(const std::filesystem::path& picture) const;

    const std::vector<RecordedOutput>& outputs() const { return outputs_; }

    // Appends one line (with its line feed), written through. Refused, and nothing written,
    // where the file would grow past kMaxResumeBytes; a write that fails leaves the file as
    // it was, where the file system allows.
    Status append(std::string_view line);

private:
    ResumeFile() = default;

    struct Answer {
        bool refused = false;
        std::optional<FileStamp> stamp;  // of a refused picture's file, when it was refused
    };
    std::filesystem::path path_;
    int fd_ = -1;
    std::uintmax_t size_ = 0;
    std::map<std::string, Answer> answers_;  // by the row's "path"
    std::vector<RecordedOutput> outputs_;
};

}  // namespace orvix::cli
