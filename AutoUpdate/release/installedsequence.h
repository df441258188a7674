#pragma once

#include <QString>

// The sequence number of the last signed release installed, one decimal number. A signed release
// numbered lower is an older release offered again, which the updater refuses. It is kept twice:
// in the user's updater folder, and in the updater's own folder beside the client, where a zip
// install writes it with the rest of the release; the higher one counts, so neither a second user
// nor a deleted file in the profile lets an older release roll the client back.
namespace InstalledSequence {

// The per-user record.
QString path();
// The record beside the client, in the updater's folder (the working folder of a run).
QString clientSidePath();
// 0 while no signed release was installed. A file that holds no number is logged and counts as
// none: whoever can write it could as well remove it.
qint64 read();
// The record beside the client alone: all that an elevated install, which trusts nothing in the
// user's profile, counts.
qint64 readBesideClient();
// Replaces the file at recordPath as a whole; false, logged, when it cannot be written.
bool write(qint64 sequence, const QString& recordPath = path());

} // namespace InstalledSequence
