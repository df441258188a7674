#pragma once

#include "release/releaseoffer.h"

#include <QString>

// The user's side of an install into a client folder that only an administrator may change: it
// hands the downloaded package and the answer to the updater installed beside the client, run
// elevated (stagedinstall.h), which does the whole install; then it waits for that side's verdict
// and copies its log into the user's, each line after "elevated: ".
namespace ElevatedInstall {

// The client folder (the parent of the working folder) lies where the user may not write, and
// the system runs the elevated install. On Windows the copy helper (copymode.h) still carries
// the elevated part of the user's own install.
bool needed();
// False when the install failed or no verdict came; the client folder is then as it was.
bool install(const QString& package, const ReleaseOffer& offer);
// At start-up: where the elevated side left a journal, it is run to restore the client folder.
void restoreUnfinished();

} // namespace ElevatedInstall
