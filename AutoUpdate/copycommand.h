#ifndef COPYCOMMAND_H
#define COPYCOMMAND_H

#include "platform/platform.h"

#include <QString>
#include <QStringList>

// The copy of an unpacked package over the client's installation folder: nircmd.exe running
// "xcopy /e /y <source>\* <target>", elevated when the folder needs it, through the updater's own
// program in copy mode, which tells when the copy has ended. The rules work on backslash paths
// and are the same on every system.
namespace CopyCommand {

// The unpacked tree of a package: its path up to the first ".zip", then "/*".
QString sourcePattern(const QString& packagePath);
// The client's installation folder: the parent of the updater's own folder.
QString targetFolder(const QString& workingFolder);
QString toBackslashes(QString path);
// A target on the home folder's drive but outside the home folder needs elevated rights.
bool needsElevation(const QString& backslashTarget, const QString& backslashHome);
// nircmd.exe's arguments: ["elevatecmd"], "execmd", program, "-copytree", verdict, "xcopy", "/e",
// "/y", source, target.
QStringList nircmdArguments(const QString& backslashProgram, const QString& backslashVerdict,
                            const QString& backslashSource, const QString& backslashTarget,
                            bool elevate);
// The copy of the content of folder source over folder target (both with forward slashes), as
// the platform runs it, reporting to the verdict file in the updater's per-user folder.
Platform::CopyRequest request(const QString& source, const QString& target, bool elevate);

} // namespace CopyCommand

#endif // COPYCOMMAND_H
