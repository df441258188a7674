#pragma once

#include "platform/platform.h"

#include <QString>
#include <QStringList>

// How the updater's own program runs as a helper of the copy over the client, where the system
// starts it apart ("nircmd elevatecmd" returns as soon as the elevated command has been
// launched): the helper keeps a heartbeat file fresh while it works and leaves its exit code in a
// verdict file; the waiting updater reads the verdict, and knows the helper has ended. Both sides
// of that exchange, and the command lines that start the helper, are here.
namespace HelperRun {

// The switches that start the program as a helper, first after the program's name: one for a
// copy, one for a removal.
QString copySwitch();
QString removalSwitch();

QString heartbeatPath(const QString& verdictPath);
// The file beside the verdict that lists the paths of a removal, one a line.
QString pathListPath(const QString& verdictPath);
// The helper's sign of life.
void beat(const QString& heartbeatPath);

// A path as Windows tools take it. The command lines are built the same on every system, so
// that they can be checked anywhere.
QString toBackslashes(QString path);
// nircmd.exe's arguments for a copy: ["elevatecmd"], "execmd", the helper's program, the copy
// switch, the verdict, the source, the target.
QStringList copyArguments(const Platform::CopyRequest& request);
// nircmd.exe's arguments for a removal: as for a copy, with the removal switch, the verdict and
// the file that lists the paths.
QStringList removalArguments(const Platform::RemovalRequest& request);

// Before a helper is started: waits for an earlier helper that still beats (until its verdict
// comes or it falls silent for silenceLimitMs), makes the verdict's folder and removes what the
// earlier helper left there.
void prepare(const QString& verdictPath, int silenceLimitMs);
// Before a removal is started: prepare(), then the list written whole.
bool prepareRemoval(const QString& verdictPath, const QStringList& paths, int silenceLimitMs);
// Waits for the verdict of a helper started after prepare(): its exit code, or a failure when no
// helper started within startLimitMs, or one fell silent for silenceLimitMs without leaving its
// verdict. With a tag, only a verdict "<tag> <exit code>" counts.
Result<int> await(const QString& verdictPath, int startLimitMs, int silenceLimitMs,
                  const QString& tag = QString());

} // namespace HelperRun
