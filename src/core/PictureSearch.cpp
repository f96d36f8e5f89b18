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

// A directory entry by its name alone: a full path per entry costs about ten times as much.
struct Entry {
    std::string name;
    std::filesystem::file_type type;  // of the entry itself, not of what a link points to

    bool operator<(const Entry& other) const { return name < other.name; }
};

// Hands over the picture files of dir and of its subdirectories, each entry's name in order.
void searchDirectory(const std::filesystem::path& dir, const std::filesystem::path& folder,
                     const std::function<void(FoundPicture)>& onPicture,
                     const std::function<void(SearchError)>& onError) {
    std::error_code ec;
    std::vector<Entry> entries;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        entries.push_back({it->path().filename().native(), it->symlink_status(typeEc).type()});
    }
    if (ec) onError({dir, ec.message()});
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        std::filesystem::path path = dir / entry.name;
        std::error_code typeEc;
        // Links to files are followed, links to directories are not.
        const auto type = entry.type == std::filesystem::file_type::symlink
                              ? std::filesystem::status(path, typeEc).type()
                              : entry.type;
        if (entry.type == std::filesystem::file_type::directory) {
            searchDirectory(path, folder / entry.name, onPicture, onError);
        } else if (type == std::filesystem::file_type::regular &&
                   // Picture extensions, and DICOM files, which often have none.
                   (hasPictureExtension(path) || (!path.has_extension() && isDicomFile(path)))) {
            onPicture({std::move(path), folder});
        }
    }
}

}  // namespace

void searchPictures(const std::vector<std::filesystem::path>& paths, const std::function<void(FoundPicture)>& onPicture,
                    const std::function<void(SearchError)>& onError) {
    for (const auto& path : paths) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) searchDirectory(path, {}, onPicture, onError);
        else onPicture({path, {}});
    }
}

CollectedPictures collectPictures(const std::vector<std::filesystem::path>& paths) {
    CollectedPictures collected;
    searchPictures(
        paths, [&](FoundPicture picture) { collected.pictures.push_back(std::move(picture)); },
        [&](SearchError error) { collected.errors.push_back(std::move(error)); });
    return collected;
}

}  // namespace orvix
