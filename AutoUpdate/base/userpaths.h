#pragma once

#include <QString>

// Per-user folders, under the profile folder as QDir::homePath() gives it.
namespace UserPaths {
// The updater's own folder: log file, state file, command script and downloads.
QString updaterDir();
// The client's data folder: its language file and the files left for it after an update.
QString clientDataDir();
// The marker left in the client's data folder after a zip update: the client shows the notes of
// the update it received while the marker is there.
QString notesMarker();
} // namespace UserPaths
