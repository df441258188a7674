#pragma once

#include "platform/platform.h"

#include <QString>
#include <QStringList>

// The copy of an unpacked package over the client's installation folder, and a removal from that
// folder: where the client lies, whether touching it needs elevated rights, and the requests the
// platform runs. The rules work on backslash paths and are the same on every system.
namespace CopyCommand {

// The client's installation folder: the parent of the updater's own folder.
QString targetFolder(const QString& workingFolder);
// A target on the home folder's drive but outside the home folder needs elevated rights.
bool needsElevation(const QString& backslashTarget, const QString& backslashHome);
// The copy of the tree unpacked from package over the client folder of the updater working in
// workingFolder, elevated where the client folder lies outside home on its drive.
Platform::CopyRequest unpackedTreeCopy(const QString& package, const QString& workingFolder,
                                       const QString& home);
// The copy of the content of folder source over folder target (both with forward slashes),
// reporting to the verdict file in the updater's per-user folder where a helper runs it.
Platform::CopyRequest request(const QString& source, const QString& target, bool elevate);
// The removal of paths, run the same way as a copy.
Platform::RemovalRequest removal(const QStringList& paths, bool elevate);

} // namespace CopyCommand
