#ifndef COPYMODE_H
#define COPYMODE_H

#include <QString>
#include <QStringList>

// The copy over the client as Windows runs it: "nircmd elevatecmd" returns as soon as the elevated
// command has been launched, so the command is the updater's own program in copy mode. It runs
// the copy tool, keeps a heartbeat file fresh while the tool runs, and leaves the tool's exit code
// in a verdict file; the waiting updater reads the verdict, and knows the copy has ended. The
// removal of the files a failed install added goes the same way, with the same rights.
namespace CopyMode {

// The switches that start the program in copy mode, first after the program's name: one for a
// copy, one for a removal.
QString switchName();
QString removalSwitchName();
// The updater's program, which the copy runs in copy mode: the one in the running program's
// folder (programs that hold the updater's parts, as its test programs do, lie beside it).
QString program();
bool requested(int argc, char** argv);

// Copy mode: arguments are the switch and the verdict file, then for a copy the copy tool and its
// arguments, for a removal the file listing the paths to remove. Returns 0 when the tool ended
// with 0, or when every listed path is gone.
int run(const QStringList& arguments);

struct Verdict
{
    // False when no copy started within startLimitMs, or one fell silent for silenceLimitMs
    // without leaving its verdict.
    bool reached = false;
    int exitCode = -1;
};

// Before a copy is started in copy mode: makes the verdict's folder and removes what an earlier
// copy left there.
void prepare(const QString& verdictPath);
// The file beside the verdict that lists the paths of a removal, one a line.
QString pathListPath(const QString& verdictPath);
// Before a removal is started in copy mode: prepare(), then the list written whole.
bool prepareRemoval(const QString& verdictPath, const QStringList& paths);
// Waits for the verdict of a copy started in copy mode after prepare().
Verdict await(const QString& verdictPath, int startLimitMs, int silenceLimitMs);

} // namespace CopyMode

#endif // COPYMODE_H
