#pragma once
// The picture files among files and folders that a user names: what the batch tool and the
// window's worklist analyse.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace orvix {

struct FoundPicture {
    std::filesystem::path path;
    // The folders between the directory argument it was found in and the file ("a/b" for
    // D/a/b/x.dcm; empty for a named file or one directly in D).
    std::filesystem::path folder;
};

// A directory that could not be listed.
struct SearchError {
    std::filesystem::path directory;
    std::string reason;

    std::string text() const { return directory.string() + ": " + reason; }  // "<directory>: <reason>"
};

struct CollectedPictures {
    std::vector<FoundPicture> pictures;
    std::vector<SearchError> errors;
};

// Whether a directory search takes this file: its extension is one the decoder reads, or it has
// none and holds DICOM (read for its first 132 bytes).
bool isPictureFile(const std::filesystem::path& path);

// Files to analyse, in order: a named file as it is, a directory's picture files (by
// extension, or DICOM by content when they have none; recursively, not through links
// to directories, sorted). A directory that cannot be listed, or an entry that cannot be looked
// at (a path longer than the system allows), is an error, and the search goes on with the rest; a path that does not
// exist is kept so that it is reported as unreadable.
CollectedPictures collectPictures(const std::vector<std::filesystem::path>& paths);

// The same search, handing each picture and each error over as it is found, in the same order.
// It holds only the names of the folders it is in at the moment, not the pictures found: an
// archive's list costs only what the caller keeps of it. A folder found in a directory that is
// one of skippedFolders (the same folder, however its path is written) is not searched: a
// tool's own output inside its input is not input on the next run.
void searchPictures(const std::vector<std::filesystem::path>& paths, const std::function<void(FoundPicture)>& onPicture,
                    const std::function<void(SearchError)>& onError,
                    const std::vector<std::filesystem::path>& skippedFolders = {});

}  // namespace orvix
