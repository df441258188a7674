#ifndef COPYCOMMAND_H
#define COPYCOMMAND_H

#include "platform/platform.h"

#include <QString>
#include <QStringList>

// The copy of an unpacked package over the client's installation folder: nircmd.exe running
// "xcopy /e /y <source>\* <target>", elevated when the folder needs it, through the updater's own
// program in copy mode, which tells when the copy has ended. A removal from that folder goes the
// same way. The rules work on backslash paths and are the same on every system.
namespace CopyCommand {

// The unpacked tree of a package: its path up to the first ".zip", then "/*".
QString sourcePattern(const QString& packagePath);
// The client's installation folder: the parent of the updater's own folder.
QString targetFolder(const QString& workingFolder);
QString toBackslashes(QString path);
// A target on the home folder's drive but outside the home folder needs elevated rights.
bool needsElevation(const QString& backslashTarget, const QString& backslashHome);
// The copy mode's arguments of the copy: "-copytree", verdict, "xcopy", "/e", "/y", source,
// target.
QStringList copyArguments(const QString& backslashVerdict, const QString& backslashSource,
                          const QString& backslashTarget);
// nircmd.exe's arguments: ["elevatecmd"], "execmd", the updater's program, then the copy mode's
// arguments.
QStringList nircmdArguments(const QString& backslashProgram, const QStringList& copyModeArguments,
                            bool elevate);
// The copy of the content of folder source over folder target (both with forward slashes), as
// the platform runs it, reporting to the verdict file in the updater's per-user folder.
Platform::CopyRequest request(const QString& source, const QString& target, bool elevate);
// The removal of the paths listed beside its own verdict file, run the same way as a copy.
Platform::CopyRequest removal(bool elevate);

} // namespace CopyCommand

#endif // COPYCOMMAND_H
