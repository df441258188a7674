#pragma once

#include "base/result.h"

#include <QString>

#include <functional>

// The copy of an unpacked tree over the client's folder, as the copy helper runs it: every folder
// and file of the tree is made or replaced at its path below the client's folder.
// - A link at such a path is replaced, never written through.
// - A read-only or hidden file is replaced like any other.
// - A file that cannot be removed because it runs (the updater's own program, on Windows) is
//   renamed aside, "<name>.replaced", and its new version written in its place; the file set aside
//   goes at a later start.
// Paths of any length the system allows are copied.
namespace TreeCopy {

// alive is called between files, so that a long copy can tell it still works. Stops at the
// first file it cannot replace.
Outcome copy(const QString& source, const QString& target, const std::function<void()>& alive);

// Removes the files an earlier copy set aside directly in folder, where they no longer run.
void removeSetAside(const QString& folder);

} // namespace TreeCopy
