#include "orvix/PictureSearch.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "orvix/DicomDecoder.h"
#include "orvix/ImageDecoder.h"

namespace orvix {
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
    if (ec) out.errors.push_back({dir, ec.message()});
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

}  // namespace orvix
