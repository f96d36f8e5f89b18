#include "BatchOptions.h"

#include <charconv>
#include <string_view>
#include <utility>

#include "orvix/PictureHeader.h"

namespace orvix::cli {

std::string usageText() {
    return std::string(
               "Usage: orvix-screen [options] PATH...\n"
               "Screens chest X-ray pictures for pneumonia with Orvix's two classifiers (chest X-ray gate,\n"
               "then NORMAL/PNEUMONIA), one result line per picture. A PATH may be a picture file or a\n"
               "directory, searched recursively for picture files. Everything runs on this machine.\n"
               "\n"
               "Options:\n"
               "  --json          one JSON object per line\n"
               "  --csv           comma-separated values with a header line\n"
               "  --reports DIR   also write each picture's report: DIR/output_<file name>.txt for a named\n"
               "                  file; for a picture found in a directory, its folders below that\n"
               "                  directory are kept (D/a/b/x.dcm -> DIR/a/b/output_x.dcm.txt). A report\n"
               "                  that an earlier picture's report already took is not written (error)\n"
               "  --heatmaps DIR  also write, for each picture that the gate takes for a chest X-ray and\n"
               "                  whose model gives class maps, heatmap_<file name>.png: the picture with\n"
               "                  the regions where the disease model found evidence tinted, and a\n"
               "                  colour scale (folders kept and clashes refused as for --reports)\n"
               "  --resume FILE   also append each picture's JSON line to FILE, and skip the pictures\n"
               "                  FILE already answers (by path): a run that was stopped goes on where it\n"
               "                  stopped (a line cut short by the stop is dropped first). FILE is locked\n"
               "                  while the run lasts and holds at most 256 MiB\n"
               "  --shard K/N     analyse only the K-th (from 0) of N parts of the pictures, chosen by a\n"
               "                  stable hash of each path below the PATH it was found in; N machines\n"
               "                  running K = 0..N-1 together cover every picture once\n"
               "  --jobs N        analyse N pictures at once, each worker with its own copy of the\n"
               "                  models (default: the number of cores); output keeps the input order\n"
               "  --operating-point FILE\n"
               "                  decide every verdict by the threshold of FILE, an operating point saved\n"
               "                  by --validate for these models (without it:\n"
               "                  $XDG_CONFIG_HOME/orvix/operating-point.json, then\n"
               "                  /etc/orvix/operating-point.json, when one exists); each row names it\n"
               "  --console       show the analysis console lines on standard error (one picture at a\n"
               "                  time)\n"
               "  --help          show this help and exit\n"
               "  --version       show the version and exit\n"
               "\n"
               "Validation (no PATH): orvix-screen --validate DIR [--labels FILE.csv]\n"
               "    [--target-sensitivity S] [--plots OUTDIR] [--save-operating-point FILE] [--json]\n"
               "  --validate DIR  measure the disease model on films labelled by folders named NORMAL and\n"
               "                  PNEUMONIA below DIR: AUC, sensitivity, specificity, PPV and NPV at the\n"
               "                  model's threshold, calibration, and the threshold that reaches the\n"
               "                  target sensitivity on these films, with 95 % intervals. Films the gate\n"
               "                  rejects, unreadable or unlabelled ones are listed on standard error\n"
               "  --labels FILE.csv\n"
               "                  the labels from FILE.csv instead: lines path,label, paths relative to DIR\n"
               "  --target-sensitivity S\n"
               "                  the sensitivity the local threshold must reach, in (0, 1] (default 0.95)\n"
               "  --plots OUTDIR  also write roc.png, reliability.png and histogram.png to OUTDIR\n"
               "  --save-operating-point FILE\n"
               "                  also save the local threshold, its figures and the models' SHA-256 to\n"
               "                  FILE, for --operating-point\n"
               "\n"
               "Exit status: 0 every picture analysed, 1 some picture, directory or report failed\n"
               "(each named on standard error; with --validate: some film could not be read), 2 usage\n"
               "error, a missing or invalid model, standard output or the resume file could not be\n"
               "written, an operating point that does not fit the models, or films that cannot be\n"
               "validated (none, one label only, a bad labels file).\n") +
           "Pictures: " + decodableFormatsText() +
           "\n(DICOM is recognised by content, also without a file extension; first frame;\n"
           "uncompressed, JPEG, JPEG-LS, RLE, JPEG 2000 and High-Throughput JPEG 2000). A damaged\n"
           "picture (cut short, corrupt data) is refused, never analysed from what could be decoded.\n"
           "Models are looked up in $ORVIX_MODEL_DIR when it is set; otherwise next to the program,\n"
           "then in the installed share directory. Not for diagnostic use.\n";
}

namespace {

// "--name VALUE" and "--name=VALUE" for the options that take a value: nothing when arg is none
// of them; else the option's name and its value (empty when it is missing). Steps i past a
// separate VALUE.
std::optional<std::pair<std::string_view, std::string>> valueOption(std::string_view arg, int argc, char** argv,
                                                                    int& i) {
    for (const std::string_view name :
         {"--reports", "--heatmaps", "--resume", "--shard", "--jobs", "--validate", "--labels", "--target-sensitivity",
          "--plots", "--save-operating-point", "--operating-point"}) {
        if (arg == name) return std::pair{name, i + 1 < argc ? std::string(argv[++i]) : std::string()};
        if (arg.size() > name.size() && arg.rfind(name, 0) == 0 && arg[name.size()] == '=')
            return std::pair{name, std::string(arg.substr(name.size() + 1))};
    }
    return std::nullopt;
}

// "K/N" with 0 <= K < N.
std::optional<BatchOptions::Shard> parseShard(const std::string& text) {
    BatchOptions::Shard shard;
    const auto slash = text.find('/');
    if (slash == std::string::npos) return std::nullopt;
    const char* end = text.data() + text.size();
    const auto k = std::from_chars(text.data(), text.data() + slash, shard.index);
    const auto n = std::from_chars(text.data() + slash + 1, end, shard.count);
    if (k.ec != std::errc() || k.ptr != text.data() + slash || n.ec != std::errc() || n.ptr != end ||
        shard.count == 0 || shard.index >= shard.count)
        return std::nullopt;
    return shard;
}

}  // namespace

std::optional<std::string> parseBatchOptions(int argc, char** argv, BatchOptions& options) {
    bool onlyPaths = false;
    bool formatSet = false;
    bool targetSet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (onlyPaths || arg.empty() || arg[0] != '-' || arg == "-") {
            options.paths.emplace_back(argv[i]);
        } else if (arg == "--") {
            onlyPaths = true;
        } else if (arg == "--json" || arg == "--csv") {
            if (formatSet) return "choose one of --json and --csv";
            formatSet = true;
            options.format = arg == "--json" ? OutputFormat::Json : OutputFormat::Csv;
        } else if (auto option = valueOption(arg, argc, argv, i)) {
            const auto& [name, value] = *option;
            if (value.empty())
                return std::string(name) + (name == "--shard" ? " needs K/N"
                                            : name == "--resume" || name == "--labels" ||
                                                    name == "--save-operating-point" || name == "--operating-point"
                                                ? " needs a file"
                                            : name == "--jobs" || name == "--target-sensitivity"
                                                ? " needs a number"
                                                : " needs a directory");
            if (name == "--reports") options.reportsDir = value;
            else if (name == "--heatmaps") options.heatmapsDir = value;
            else if (name == "--resume") options.resumeFile = value;
            else if (name == "--validate") options.validateDir = value;
            else if (name == "--labels") options.labelsFile = value;
            else if (name == "--plots") options.plotsDir = value;
            else if (name == "--save-operating-point") options.saveOperatingPoint = value;
            else if (name == "--operating-point") options.operatingPoint = value;
            else if (name == "--target-sensitivity") {
                double target = 0.0;
                const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), target);
                if (ec != std::errc() || end != value.data() + value.size() || !(target > 0.0 && target <= 1.0))
                    return "--target-sensitivity needs a number in (0, 1], not " + value;
                options.targetSensitivity = target;
                targetSet = true;
            } else if (name == "--jobs") {
                unsigned jobs = 0;
                const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), jobs);
                if (ec != std::errc() || end != value.data() + value.size() || jobs < 1 || jobs > 256)
                    return "--jobs needs a number from 1 to 256, not " + value;
                options.jobs = jobs;
            } else if (!(options.shard = parseShard(value))) return "--shard needs K/N with 0 <= K < N, not " + value;
        } else if (arg == "--console") {
            options.showConsole = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else {
            return "unknown option " + std::string(arg);
        }
    }
    if (options.help || options.version) return std::nullopt;
    if (options.validateDir) {
        if (!options.paths.empty()) return "--validate takes no PATH";
        if (formatSet && options.format == OutputFormat::Csv) return "--validate writes text or --json, not --csv";
        for (const auto& [given, name] : {std::pair{options.reportsDir.has_value(), "--reports"},
                                          {options.heatmapsDir.has_value(), "--heatmaps"},
                                          {options.resumeFile.has_value(), "--resume"},
                                          {options.shard.has_value(), "--shard"},
                                          {options.operatingPoint.has_value(), "--operating-point"}})
            if (given) return std::string(name) + " does not go with --validate";
        return std::nullopt;
    }
    for (const auto& [given, name] : {std::pair{options.labelsFile.has_value(), "--labels"},
                                      {targetSet, "--target-sensitivity"},
                                      {options.plotsDir.has_value(), "--plots"},
                                      {options.saveOperatingPoint.has_value(), "--save-operating-point"}})
        if (given) return std::string(name) + " goes with --validate only";
    if (options.paths.empty()) return "no PATH given";
    return std::nullopt;
}

bool inShard(const std::filesystem::path& relativePath, const BatchOptions::Shard& shard) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : relativePath.generic_string()) hash = (hash ^ c) * 0x100000001b3ull;
    return hash % shard.count == shard.index;
}

}  // namespace orvix::cli
