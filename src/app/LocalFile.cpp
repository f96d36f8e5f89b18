#include "LocalFile.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <QUrl>

namespace orvix::app {
namespace {

bool exists(const QByteArray& path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

// The name of the one entry of dir that shows as component, or "" when none or several do.
QByteArray entryShownAs(const QByteArray& dir, const QString& component) {
    DIR* listing = ::opendir(dir.isEmpty() ? "." : dir.constData());
    if (listing == nullptr) return {};
    QByteArray found;
    int matches = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (QFile::decodeName(entry->d_name) == component && ++matches == 1) found = entry->d_name;
    }
    ::closedir(listing);
    return matches == 1 ? found : QByteArray();
}

}  // namespace

std::filesystem::path localFilePath(const QString& shown) {
    const QByteArray encoded = QFile::encodeName(shown);
    if (exists(encoded)) return encoded.toStdString();
    QByteArray resolved = shown.startsWith('/') ? "/" : "";
    for (const QString& component : shown.split('/', Qt::SkipEmptyParts)) {
        const QByteArray prefix = resolved.isEmpty() || resolved.endsWith('/') ? resolved : resolved + '/';
        QByteArray name = QFile::encodeName(component);
        if (!exists(prefix + name)) name = entryShownAs(resolved, component);
        if (name.isEmpty()) return encoded.toStdString();
        resolved = prefix + name;
    }
    return resolved.toStdString();
}

std::filesystem::path localFilePath(const QUrl& url) {
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (url.host().isEmpty() && exists(bytes)) return bytes.toStdString();
    return localFilePath(url.toLocalFile());
}

}  // namespace orvix::app
