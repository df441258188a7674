#pragma once

#include "base/result.h"
#include "release/releasemanifest.h"

#include <QString>
#include <QStringList>

// The list of every file the last install put into the client folder, with its size and SHA-256,
// kept in the updater's own folder there. It travels with the tree it describes: it is written
// into the unpacked tree before the copy, so a failed install puts the old list back with the old
// files. The next install removes the files the list names and the new release lacks, and only
// while each is still the file that was installed: never a file the user made or changed. Where
// no list was kept (the client came from an installer), nothing is removed.
namespace InstalledFiles {

// The list's path relative to the client folder, below the updater's folder named updaterFolder.
QString relativePath(const QString& updaterFolder);

// Writes the list of the files in tree (the unpacked release) at relativePath in it. verified:
// the manifest every file of the tree but the updater's folder was checked against as it was
// written, or null; those files are not read again.
Outcome record(const QString& tree, const QString& updaterFolder,
               const ReleaseManifest* verified = nullptr);

// The files that clientFolder's list names, tree lacks and that are still as installed, relative
// to clientFolder. The list is read as hostile input: one that cannot be read or breaks the
// manifest's rules names nothing.
QStringList droppedBy(const QString& tree, const QString& clientFolder,
                      const QString& updaterFolder);

} // namespace InstalledFiles
