#pragma once

#include "base/result.h"

#include <QString>

// The updater's installed configuration, "updateconfig.json" in its own folder, when a release
// carries one. The keys that describe this installation ("appPath") stay this machine's; the
// publisher's keys (addresses, "publicKey", the client's names) are taken from the release.
namespace InstalledConfig {

// Rewrites the release's configuration in the unpacked tree with this installation's "appPath";
// nothing to do when the release carries none. A failure when either file is no JSON object.
Outcome keepInstallation(const QString& packaged, const QString& installed);

// After the copy: the installed configuration parses, the client configuration it names holds
// version, and a "publicKey" it names can be used. Otherwise the next start could not update, or
// not even start the client.
Outcome check(const QString& installed, const QString& version);

} // namespace InstalledConfig
