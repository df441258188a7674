#ifndef USERPATHS_H
#define USERPATHS_H

#include <QString>

// Per-user folders, under the profile folder as QDir::homePath() gives it.
namespace UserPaths {
// The updater's own folder: log file, state file, command script and downloads.
QString updaterDir();
// The client's data folder: its language file and the files left for it after an update.
QString clientDataDir();
} // namespace UserPaths

#endif // USERPATHS_H
