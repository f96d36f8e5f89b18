#pragma once
// Qt's own file dialog (the one Orvix opens, with DontUseNativeDialog) keeps its folder history,
// last visited folder, sidebar and view in Qt's user settings: it reads them when it is created and
// writes them to QtProject.conf in the user's configuration folder when it is destroyed, even after
// Cancel. Folder names can name patients, and Orvix leaves no file behind but the reports and PDFs
// the user saves.

namespace orvix::app {

// Points this process's user settings at a place where no file can be made, so that no file
// dialog reads or writes a settings file: what a dialog stores lasts as long as the process.
// Orvix keeps no settings of its own (docs/design.md says where a window setting may come
// from instead). Idempotent; called before any file dialog is created (ContentView does).
void keepDialogSettingsInMemory();

}  // namespace orvix::app
