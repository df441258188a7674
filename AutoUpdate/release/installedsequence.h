#pragma once

#include <QString>

// The sequence number of the last signed release this updater installed, kept in the updater's
// per-user folder as one decimal number. A signed release numbered lower is an older release
// offered again, which the updater refuses.
namespace InstalledSequence {

QString path();
// 0 while no signed release was installed. A file that holds no number is logged and counts as
// none: whoever can write it could as well remove it.
qint64 read();
// Replaces the file as a whole; false, logged, when it cannot be written.
bool write(qint64 sequence);

} // namespace InstalledSequence
