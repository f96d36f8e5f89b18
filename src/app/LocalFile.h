#pragma once
// File names as the bytes the system gave. A name that is not valid UTF-8 does not survive
// a QString, so a name the user chose in a dialog or dropped on the window is mapped back
// to the bytes of the file it stands for.

#include <filesystem>

class QString;
class QUrl;

namespace orvix::app {

// The file a path as Qt shows it names: its plain encoding where that exists; else,
// component by component, the one entry of each directory whose name shows as that
// component. Where none or several entries match, the plain encoding, which then fails
// to open under its shown name.
std::filesystem::path localFilePath(const QString& shown);

// The file a local file URL names: the URL's percent-encoded path carries its bytes.
std::filesystem::path localFilePath(const QUrl& url);

}  // namespace orvix::app
