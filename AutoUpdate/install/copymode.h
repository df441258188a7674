#pragma once

#include <QString>
#include <QStringList>

// The updater's program as the helper of a copy over the client or of a removal from it (see
// platform/helperrun.h): it copies the tree (treecopy.h), or removes the listed paths, and leaves
// the verdict for the updater that waits for it.
namespace CopyMode {

// The updater's program, which the copy runs in copy mode: the one in the running program's
// folder (programs that hold the updater's parts, as its test programs do, lie beside it).
QString program();
bool requested(int argc, char** argv);

// Copy mode: arguments are the switch and the verdict file, then for a copy the tree and the
// folder it is copied over, for a removal the file listing the paths to remove. Returns 0 when
// every file was copied, or when every listed path is gone.
int run(const QStringList& arguments);

} // namespace CopyMode
