#include "DialogSettings.h"

#include <QSettings>

namespace orvix::app {

void keepDialogSettingsInMemory() {
    // /dev/null is no directory and none can be made under it, so QSettings finds the file
    // unwritable: it creates no folder, no lock file and no settings file, and says so only in its
    // own status, which the dialog ignores. Reading finds nothing, so a dialog starts without the
    // history another Qt program left. Both formats: the dialog's QSettings takes the default one
    // (native, which is INI here).
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
}

}  // namespace orvix::app
