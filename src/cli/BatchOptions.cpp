#include "BatchOptions.h"

#include <string_view>

namespace orvix::cli {

std::string usageText() {
    return "Usage: orvix-screen [options] PATH...\n"
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
           "  --console       show the analysis console lines on standard error\n"
           "  --help          show this help and exit\n"
           "  --version       show the version and exit\n"
           "\n"
           "Exit status: 0 every picture analysed, 1 some picture, directory or report failed\n"
           "(each named on standard error), 2 usage error or a missing or invalid model.\n"
           "Pictures: PNG, JPEG, BMP, TIFF, WebP, PBM/PGM/PPM, JPEG 2000, and DICOM (recognised by\n"
           "content, also without a file extension; first frame; uncompressed, JPEG, JPEG-LS, RLE,\n"
           "JPEG 2000 and High-Throughput JPEG 2000). A damaged picture (cut short, corrupt data)\n"
           "is refused, never analysed from what could be decoded.\n"
           "Models are looked up in $ORVIX_MODEL_DIR, next to the program, and in the installed\n"
           "share directory. Not for diagnostic use.\n";
}

namespace {

// --reports DIR, --reports=DIR and the same for --heatmaps: nothing when arg is neither; the
// directory, or an empty value when it is missing. Steps i past a separate DIR.
std::optional<std::optional<std::filesystem::path>> directoryOption(std::string_view arg, int argc, char** argv,
                                                                    int& i) {
    for (const std::string_view name : {"--reports", "--heatmaps"}) {
        if (arg == name) {
            if (i + 1 >= argc) return std::optional<std::filesystem::path>();
            return std::optional<std::filesystem::path>(argv[++i]);
        }
        if (arg.size() > name.size() && arg.rfind(name, 0) == 0 && arg[name.size()] == '=')
            return std::optional<std::filesystem::path>(std::string(arg.substr(name.size() + 1)));
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> parseBatchOptions(int argc, char** argv, BatchOptions& options) {
    bool onlyPaths = false;
    bool formatSet = false;
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
        } else if (auto dir = directoryOption(arg, argc, argv, i)) {
            if (!*dir) return std::string(arg.substr(0, arg.find('='))) + " needs a directory";
            (arg.rfind("--reports", 0) == 0 ? options.reportsDir : options.heatmapsDir) = **dir;
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
    if (!options.help && !options.version && options.paths.empty()) return "no PATH given";
    return std::nullopt;
}

}  // namespace orvix::cli
