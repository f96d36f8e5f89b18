// orvix-screen: the batch front end. Every picture goes through the same core run
// as the window (read, decode, gate, disease stage, report); this file only
// chooses the files and prints one result per picture.

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "BatchOptions.h"
#include "PathText.h"
#include "ResultRow.h"
#include "ResumeFile.h"
#include "Validate.h"
#include "orvix/Console.h"
#include "orvix/DiagnosisState.h"
#include "orvix/DicomIdentity.h"
#include "orvix/Format.h"
#include "orvix/Heatmap.h"
#include "orvix/ImageDecoder.h"
#include "orvix/ImportRun.h"
#include "orvix/OperatingPoint.h"
#include "orvix/PictureSearch.h"
#include "orvix/Report.h"
#include "orvix/ReportSaver.h"
#include "orvix/Version.h"

namespace {

using namespace orvix;
using cli::Analysis;
using cli::jsonRow;
using cli::jsonText;
using cli::OutputFormat;
using cli::PathEscape;
using cli::pathText;
using cli::Row;
using cli::statusName;

constexpr std::size_t kProgressFrom = 20;  // files; fewer finish before a bar would help

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

double probabilityOf(const std::optional<StageResult>& stage) { return stage ? stage->labelProbability() : 0.0; }

// A line (or part) for standard error. The decoder points std::cerr elsewhere for a moment
// while it decodes on a worker, under the console mutex; what is told here takes it too, so
// that it is never caught there.
class Tell {
public:
    Tell() = default;
    Tell(const Tell&) = delete;
    Tell& operator=(const Tell&) = delete;
    ~Tell() {
        const std::lock_guard lock(consoleMutex());
        std::cerr << text_.str() << std::flush;
    }
    template <class T>
    Tell& operator<<(const T& value) {
        text_ << value;
        return *this;
    }

private:
    std::ostringstream text_;
};

// Results go straight to standard output, each write checked: a full disk or a closed pipe
// must not leave rows cut short behind an exit status of 0. Names the fault on standard error.
bool writeOut(std::string_view text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            const std::lock_guard lock(consoleMutex());
            std::cerr << "orvix-screen: cannot write to standard output: " << std::strerror(err) << '\n';
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The row's line in the format, with its line feed; "" when the format shows none.
std::string formatRow(const Row& row, OutputFormat format) {
    const bool ok = row.result.status == ImportStatus::Analysed;
    const auto& gate = row.result.gate;
    const auto& disease = row.result.disease;
    switch (format) {
        case OutputFormat::Text: {
            if (!ok) return {};  // named on standard error instead
            std::ostringstream line;
            line << pathText(row.path.native(), PathEscape::InvalidUtf8AndControls) << '\t'
                 << (gate ? gate->classLabel : "-") << ' ' << describeDouble(probabilityOf(gate)) << '\t'
                 << (disease ? disease->classLabel : "-") << ' ' << describeDouble(probabilityOf(disease)) << '\t'
                 << row.verdict;
            if (!row.operatingPoint.empty()) line << '\t' << row.operatingPoint;
            line << '\n';
            return line.str();
        }
        case OutputFormat::Csv: {
            std::ostringstream line;
            line << csvField(row.path.string()) << ',' << csvField(row.fileName) << ',' << statusName(row.result.status)
                 << ',' << csvField(gate ? gate->classLabel : "") << ','
                 << (gate ? describeDouble(probabilityOf(gate)) : "") << ','
                 << csvField(disease ? disease->classLabel : "") << ','
                 << (disease ? describeDouble(probabilityOf(disease)) : "") << ',' << (ok ? row.verdict : "") << ','
                 << (ok ? (row.isChestXRay ? "true" : "false") : "") << ',' << (ok ? describeDouble(row.accuracy) : "")
                 << ',' << (row.borderline ? (*row.borderline ? "true" : "false") : "");
            if (!row.operatingPoint.empty()) line << ',' << csvField(row.operatingPoint);
            line << '\n';
            return line.str();
        }
        case OutputFormat::Json: return jsonText(jsonRow(row)) + '\n';
    }
    return {};
}

// The row's line in the resume file: its JSON row, and what a later run needs besides.
std::string resumeLine(const Row& row, const std::optional<std::filesystem::path>& report,
                       const std::optional<std::filesystem::path>& heatmap) {
    nlohmann::json j = jsonRow(row);
    if (report) j["report"] = pathText(report->native());
    if (heatmap) j["heatmap"] = pathText(heatmap->native());
    if (row.result.status != ImportStatus::Analysed && row.stamp) {
        j["fileSize"] = row.stamp->size;
        j["fileModified"] = row.stamp->modifiedNs;
    }
    return jsonText(j) + '\n';
}

// Writes one output file of an analysed picture under dir, in the folder the picture was found
// in. A path that another picture took, in this run or in the runs that the resume file
// records, is refused, so that no output replaces another. Returns the path written (made
// absolute, as the resume file records it), or nothing once the fault is named on standard
// error.
class OutputFolder {
public:
    OutputFolder(std::filesystem::path dir, const char* what) : dir_(std::move(dir)), what_(what) {}

    const char* what() const { return what_; }

    // An output that an earlier run wrote for picture.
    void taken(const std::filesystem::path& output, const std::filesystem::path& picture) {
        written_.emplace(key(output), picture);
    }

    std::optional<std::filesystem::path> write(const FoundPicture& picture, const std::string& name,
                                               std::string_view content) {
        const auto target = dir_ / picture.folder / name;
        auto written = key(target);
        const auto [earlier, first] = written_.emplace(written, picture.path);
        if (!first && earlier->second != picture.path) {
            Tell() << "orvix-screen: " << picture.path.string() << ": " << what_ << " not written: " << target.string()
                   << " is the " << what_ << " of " << earlier->second.string() << '\n';
            return std::nullopt;
        }
        std::error_code ec;
        std::filesystem::create_directories(target.parent_path(), ec);
        auto saved = ec ? Status(Error{"cannot create " + target.parent_path().string() + ": " + ec.message()})
                        : writeFileAtomically(target, content);
        if (!saved) {
            Tell() << "orvix-screen: " << saved.error().message << '\n';
            return std::nullopt;
        }
        return written;
    }

private:
    // One spelling per file, whichever way the folder was named (out, ./out, /home/u/out).
    static std::filesystem::path key(const std::filesystem::path& path) {
        std::error_code ec;
        auto absolute = std::filesystem::absolute(path, ec);
        return (ec ? path : absolute).lexically_normal();
    }

    std::filesystem::path dir_;
    const char* what_;
    std::map<std::filesystem::path, std::filesystem::path> written_;  // output -> its picture
};

// Writes an analysed picture's report under dir, in the folder the picture was found in. The
// core's save decides the name as it does for the window, without asking: a report of another
// picture (or of one unknown) under the same name is kept, and this one gets the first free
// " (n)" name; this picture's own report, from an earlier run, is replaced. Returns the path
// written (made absolute, as the resume file records it), or nothing once the fault is named on
// standard error.
std::optional<std::filesystem::path> writeReport(const std::filesystem::path& dir, const FoundPicture& picture,
                                                 const std::string& fileName, const std::string& report,
                                                 const PictureOrigin& origin) {
    auto saved = saveReport(dir / picture.folder, fileName, report, origin,
                            [](const ReportClash&) { return ClashChoice::KeepBoth; });
    if (!saved || !saved->has_value()) {
        Tell() << "orvix-screen: " << (saved ? "report not written" : saved.error().message) << '\n';
        return std::nullopt;
    }
    std::error_code ec;
    auto absolute = std::filesystem::absolute(**saved, ec);
    return (ec ? **saved : absolute).lexically_normal();
}

// A picture to analyse, kept as text: the list of an archive's pictures is what grows with it,
// and a std::filesystem::path keeps each of its components besides.
struct Job {
    std::string path, folder;

    FoundPicture picture() const { return {path, folder}; }
};

// Analyses the pictures on one thread per state (each state has its own models: a network is
// not shared between threads) and hands the analyses back in input order. At most `depth`
// pictures are being analysed or waiting to be handed back, however many there are.
class Pipeline {
public:
    Pipeline(const std::vector<Job>& files, std::vector<DiagnosisState>& states, bool heatmaps,
             const OperatingPoint* point, PictureDigest digest)
        : files_(files), heatmaps_(heatmaps), point_(point), digest_(digest), slots_(4 * states.size()) {
        for (auto& state : states) threads_.emplace_back([this, &state] { work(state); });
    }
    ~Pipeline() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (auto& thread : threads_) thread.join();
    }

    // The next picture's analysis. Precondition: called fewer times than there are files.
    Analysis next() {
        std::unique_lock lock(mutex_);
        auto& slot = slots_[handed_ % slots_.size()];
        changed_.wait(lock, [&] { return slot.has_value(); });
        Analysis a = std::move(*slot);
        slot.reset();
        ++handed_;
        lock.unlock();
        changed_.notify_all();
        return a;
    }

private:
    void work(DiagnosisState& state) {
        for (;;) {
            std::size_t i = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(
                    lock, [&] { return stopping_ || claimed_ >= files_.size() || claimed_ < handed_ + slots_.size(); });
                if (stopping_ || claimed_ >= files_.size()) return;
                i = claimed_++;
            }
            Analysis a = cli::analysePicture(files_[i].picture(), state, heatmaps_, point_, digest_);
            {
                const std::lock_guard lock(mutex_);
                slots_[i % slots_.size()] = std::move(a);
            }
            changed_.notify_all();
        }
    }

    const std::vector<Job>& files_;
    const bool heatmaps_;
    const OperatingPoint* point_;
    const PictureDigest digest_;  // taken only when reports are written
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::optional<Analysis>> slots_;
    std::size_t claimed_ = 0, handed_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// On a terminal a bar; elsewhere (a log file, a cluster job's output) a line every few seconds.
class Progress {
public:
    explicit Progress(std::size_t total)
        : total_(total), enabled_(total >= kProgressFrom), terminal_(::isatty(2)), start_(Steady::now()),
          lastLine_(start_) {}
    void step(std::size_t done) {
        if (!enabled_) return;
        if (terminal_) {
            const std::size_t width = 30, filled = width * done / total_;
            Tell() << "\r[" << std::string(filled, '#') << std::string(width - filled, ' ') << "] " << done << '/'
                   << total_ << (done == total_ ? "\n" : "");
        } else if (const auto now = Steady::now(); now - lastLine_ >= kLineEvery) {
            lastLine_ = now;
            Tell() << "orvix-screen: " << done << '/' << total_ << " pictures, " << perSecond(done) << " per second\n";
        }
    }
    long perSecond(std::size_t done) const {
        const double seconds = std::chrono::duration<double>(Steady::now() - start_).count();
        return seconds > 0 ? std::lround(static_cast<double>(done) / seconds) : 0;
    }

private:
    static constexpr auto kLineEvery = std::chrono::seconds(5);
    std::size_t total_;
    bool enabled_, terminal_;
    using Steady = std::chrono::steady_clock;
    Steady::time_point start_, lastLine_;
};

struct Summary {
    std::size_t positive = 0, negative = 0, notChest = 0, refused = 0, skipped = 0;

    void count(const Row& row) {
        if (row.result.status != ImportStatus::Analysed) ++refused;
        else if (!row.isChestXRay) ++notChest;
        else if (row.verdict == "NEGATIVE") ++negative;
        else ++positive;
    }
    void print(const Progress& progress) const {
        const std::size_t analysed = positive + negative + notChest;
        Tell line;
        line << "orvix-screen: " << analysed << " analysed (" << positive << " positive, " << negative << " negative, "
             << notChest << " not a chest X-ray), " << refused << " refused";
        if (skipped > 0) line << ", " << skipped << " answered before";
        line << "; " << progress.perSecond(analysed + refused) << " pictures per second\n";
    }
};

}  // namespace

int main(int argc, char** argv) {
    cli::BatchOptions options;
    if (auto error = cli::parseBatchOptions(argc, argv, options)) {
        std::cerr << "orvix-screen: " << *error << "\n\n" << cli::usageText();
        return 2;
    }
    if (options.help) return writeOut(cli::usageText()) ? 0 : 2;
    if (options.version) return writeOut(std::string("orvix-screen ") + ORVIX_VERSION + '\n') ? 0 : 2;
    // Past a file-size limit (ulimit -f) a write fails with EFBIG and is reported as any other,
    // rather than the signal ending the run without a word.
    std::signal(SIGXFSZ, SIG_IGN);

    // First, before anything is written: a file given by mistake is refused untouched, and a
    // second run on the same file stops here.
    std::optional<cli::ResumeFile> resume;
    if (options.resumeFile) {
        auto opened = cli::ResumeFile::open(*options.resumeFile);
        if (!opened) {
            std::cerr << "orvix-screen: " << opened.error().message << '\n';
            return 2;
        }
        resume.emplace(std::move(opened).value());
    }

    // Standard output carries only results: console lines go to standard error on
    // request, diagnostics are replaced by this tool's own messages.
    setConsoleStream(options.showConsole ? &std::cerr : nullptr);
    setDiagnosticStream(nullptr);

    // One set of models per worker; console lines come one picture at a time.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned jobs = options.showConsole ? 1 : options.jobs.value_or(cores);
    // The workers share the cores: each prediction gets its share rather than all of them.
    if (jobs > 1) setThreadsPerPrediction(static_cast<int>(std::max(1u, cores / jobs)));
    const auto loadStates = [jobs]() -> Result<std::vector<DiagnosisState>> {
        std::vector<DiagnosisState> states;
        for (unsigned j = 0; j < jobs; ++j) {
            auto created = DiagnosisState::create();
            if (!created) return created.error();
            states.push_back(std::move(created).value());
        }
        return states;
    };
    if (options.validateDir) return cli::runValidation(options, loadStates);
    auto loaded = loadStates();
    if (!loaded) {
        std::cerr << "orvix-screen: " << loaded.error().message << '\n';
        return 2;
    }
    std::vector<DiagnosisState> states = std::move(loaded).value();

    // A clinic's operating point, named or configured; one that does not fit these models stops the run.
    std::optional<OperatingPoint> point;
    if (const auto file = options.operatingPoint ? options.operatingPoint : findOperatingPoint(processEnvironment)) {
        auto read =
            loadOperatingPoint(*file, states.front().model->model.metadata(), states.front().model2->model.metadata());
        if (!read) {
            std::cerr << "orvix-screen: " << read.error().message << '\n';
            return 2;
        }
        point = std::move(read).value();
    }

    for (const auto& dir : {options.reportsDir, options.heatmapsDir}) {
        std::error_code ec;
        if (dir) std::filesystem::create_directories(*dir, ec);
        if (ec) {
            std::cerr << "orvix-screen: cannot create " << dir->string() << ": " << ec.message() << '\n';
            return 2;
        }
    }
    std::optional<OutputFolder> heatmaps;
    if (options.heatmapsDir) heatmaps.emplace(*options.heatmapsDir, "heatmap");

    // The names that the earlier runs' pictures own, so that none of theirs is replaced (a
    // report's own record says whose it is).
    if (resume && heatmaps)
        for (const auto& output : resume->outputs())
            if (output.kind == heatmaps->what()) heatmaps->taken(output.file, output.picture);

    std::vector<std::filesystem::path> outputFolders;
    for (const auto& dir : {options.reportsDir, options.heatmapsDir})
        if (dir) outputFolders.push_back(*dir);

    int exitCode = 0;
    Summary summary;
    std::vector<Job> files;
    searchPictures(
        options.paths,
        [&](FoundPicture picture) {
            if (options.shard && !cli::inShard(picture.folder / picture.path.filename(), *options.shard)) return;
            if (resume && resume->answered(picture.path)) ++summary.skipped;
            else files.push_back({picture.path.native(), picture.folder.native()});
        },
        [&](const SearchError& error) {
            std::cerr << "orvix-screen: " << error.text() << '\n';
            exitCode = 1;
        },
        // The reports and heatmaps of an earlier run, written inside the input, are no pictures to screen.
        outputFolders);
    if (options.format == OutputFormat::Csv &&
        !writeOut("path,fileName,status,gateLabel,gateProbability,diseaseLabel,diseaseProbability,result,"
                  "isChestXRay,accuracy,borderline" +
                  std::string(point ? ",operatingPoint\n" : "\n")))
        return 2;
    Progress progress(files.size());
    Pipeline pipeline(files, states, heatmaps.has_value(), point ? &*point : nullptr,
                      options.reportsDir ? PictureDigest::Taken : PictureDigest::Skipped);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Analysis analysis = pipeline.next();
        const Row& row = analysis.row;
        // A picture is answered once everything asked for it is written; else a resumed run
        // tries it again.
        bool complete = true;
        std::optional<std::filesystem::path> report, heatmap;
        if (row.result.status == ImportStatus::Analysed) {
            if (options.reportsDir) {
                report = writeReport(*options.reportsDir, files[i].picture(), analysis.fileName, analysis.report,
                                     analysis.origin);
                complete = complete && report;
            }
            if (analysis.heatmapFailed) {
                Tell() << "orvix-screen: " << row.path.string() << ": the heatmap could not be encoded\n";
                complete = false;
            }
            if (heatmaps && analysis.heatmapPng) {
                heatmap =
                    heatmaps->write(files[i].picture(), "heatmap_" + analysis.fileName + ".png", *analysis.heatmapPng);
                complete = complete && heatmap;
            }
            if (!complete) exitCode = 1;
        } else {
            Tell() << "orvix-screen: " << row.result.message << '\n';
            exitCode = 1;
        }
        if (!writeOut(formatRow(row, options.format))) return 2;
        if (resume && complete) {
            if (auto appended = resume->append(resumeLine(row, report, heatmap)); !appended) {
                Tell() << "orvix-screen: " << appended.error().message << '\n';
                return 2;
            }
        }
        summary.count(row);
        progress.step(i + 1);
    }
    // The last chance to hear of a write that failed after it was accepted (a file system that
    // reports faults on close).
    if (::close(STDOUT_FILENO) != 0) {
        std::cerr << "orvix-screen: cannot write to standard output: " << std::strerror(errno) << '\n';
        return 2;
    }
    summary.print(progress);
    return exitCode;
}
