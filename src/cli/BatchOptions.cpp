#include "BatchOptions.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <system_error>

#include "orvix/DicomDecoder.h"
#include "orvix/ImageDecoder.h"

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

namespace {

bool hasPictureExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    if (ext.size() < 2) return false;
    ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto& known = decodableExtensions();
    return std::find(known.begin(), known.end(), ext) != known.end();
}

// Adds the picture files of dir and of its subdirectories, each entry's name in order.
void searchDirectory(const std::filesystem::path& dir, const std::filesystem::path& folder, CollectedPictures& out) {
    std::error_code ec;
    std::vector<std::filesystem::directory_entry> entries;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec) out.errors.push_back(dir.string() + ": " + ec.message());
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        std::error_code typeEc;
        const auto& path = entry.path();
        if (entry.is_directory(typeEc) && !entry.is_symlink(typeEc)) {
            searchDirectory(path, folder / path.filename(), out);
        } else if (entry.is_regular_file(typeEc) &&
                   // Picture extensions, and DICOM files, which often have none.
                   (hasPictureExtension(path) || (!path.has_extension() && isDicomFile(path)))) {
            out.pictures.push_back({path, folder});
        }
    }
}

}  // namespace

CollectedPictures collectPictures(const std::vector<std::filesystem::path>& paths) {
    CollectedPictures collected;
    for (const auto& path : paths) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) searchDirectory(path, {}, collected);
        else collected.pictures.push_back({path, {}});
    }
    return collected;
}

}  // namespace orvix::cli
