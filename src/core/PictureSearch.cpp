#include "orvix/PictureSearch.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

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
    std::error_code typeError;        // why its type is not known (a path longer than PATH_MAX)

    bool operator<(const Entry& other) const { return name < other.name; }
};

using FolderId = std::pair<dev_t, ino_t>;

struct Search {
    const std::function<void(FoundPicture)>& onPicture;
    const std::function<void(SearchError)>& onError;
    std::set<FolderId> skipped;
};

std::optional<FolderId> folderId(const std::filesystem::path& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return std::nullopt;
    return FolderId{st.st_dev, st.st_ino};
}

// Hands over the picture files of dir and of its subdirectories, each entry's name in order.
void searchDirectory(const std::filesystem::path& dir, const std::filesystem::path& folder, const Search& search) {
    std::error_code ec;
    std::vector<Entry> entries;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        const auto type = it->symlink_status(typeEc).type();
        entries.push_back({it->path().filename().native(), type, typeEc});
    }
    if (ec) search.onError({dir, ec.message()});
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        std::filesystem::path path = dir / entry.name;
        // An entry gone since the listing is no loss; one that cannot be looked at is.
        if (entry.typeError && entry.typeError != std::errc::no_such_file_or_directory) {
            search.onError({path, entry.typeError.message()});
            continue;
        }
        std::error_code typeEc;
        // Links to files are followed, links to directories are not.
        const auto type = entry.type == std::filesystem::file_type::symlink
                              ? std::filesystem::status(path, typeEc).type()
                              : entry.type;
        if (entry.type == std::filesystem::file_type::directory) {
            if (const auto id = search.skipped.empty() ? std::nullopt : folderId(path); id && search.skipped.count(*id))
                continue;
            searchDirectory(path, folder / entry.name, search);
        } else if (type == std::filesystem::file_type::regular &&
                   // Picture extensions, and DICOM files, which often have none.
                   isPictureFile(path)) {
            search.onPicture({std::move(path), folder});
        }
    }
}

}  // namespace

void searchPictures(const std::vector<std::filesystem::path>& paths, const std::function<void(FoundPicture)>& onPicture,
                    const std::function<void(SearchError)>& onError,
                    const std::vector<std::filesystem::path>& skippedFolders) {
    Search search{onPicture, onError, {}};
    for (const auto& dir : skippedFolders)
        if (const auto id = folderId(dir)) search.skipped.insert(*id);
    for (const auto& path : paths) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) searchDirectory(path, {}, search);
        else onPicture({path, {}});
    }
}

bool isPictureFile(const std::filesystem::path& path) {
    return hasPictureExtension(path) || (!path.has_extension() && isDicomFile(path));
}

CollectedPictures collectPictures(const std::vector<std::filesystem::path>& paths) {
    CollectedPictures collected;
    searchPictures(
        paths, [&](FoundPicture picture) { collected.pictures.push_back(std::move(picture)); },
        [&](SearchError error) { collected.errors.push_back(std::move(error)); });
    return collected;
}

}  // namespace orvix
