#pragma once

#include <QString>
#include <QStringList>

// The elevated side of an install into a client folder that only an administrator may change.
// It trusts nothing the user's side can write after the elevation prompt: it copies the package
// (one file) into its staging folder (stagingfolder.h), checks it there against the answer the
// user's side hands it and, where a "publicKey" is installed, verifies the answer's signature
// with that key and the sequence kept beside the client; then it unpacks, backs up, copies,
// compares and confirms the new version, restoring the client folder on any failure, all within
// the staging folder. It leaves "<tag> <exit code>" as its verdict there.
namespace StagedInstall {

// "-installpackage <tag> <package> <answer>": the install.
QString installSwitch();
// "-restoreinstall <tag>": the restore of an install that did not end.
QString restoreSwitch();
bool requested(int argc, char** argv);

// Runs in the updater's own folder, which holds the staging folder. 0 when the install (or the
// restore) is done, 1 when it failed with the client folder as it was, 2 on wrong arguments or
// a staging folder that cannot be made safe.
int run(const QStringList& arguments);

} // namespace StagedInstall
