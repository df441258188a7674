#pragma once

#include "base/result.h"
#include "release.h"
#include "release/releaseoffer.h"

#include <QString>

namespace updateservice {

struct PublishRequest
{
    // The client build folder for a zip package, the installer program for an installer.
    QString buildPath;
    PackageKind kind = PackageKind::Zip;
    QString version;
    QString notesZh;
    QString notesEn;
    QString updateMode = QStringLiteral("1"); // "1" lets the user postpone, "2" forces
    // The package file is <name>_<version>.zip, or for an installer <name>_<version> with the
    // installer's own file ending.
    QString name = QStringLiteral("quorvex");
    // Relative to the build folder. It must already name the version: the updater counts a
    // zip update as done only when the installed configuration names the new version.
    QString clientConfig = QStringLiteral("config/client.json");
    QString releasesDir;
    // A signing.key made by writeKeyPair (signingkey.h). When given, "biz" also carries the
    // package's "sha256", the release's "sequence", the "keyId" and the "signature".
    QString signingKeyPath;
    // A zip release is offered as a delta from each of this many latest earlier releases of the
    // same client (see deltapublisher.h); 0 makes none.
    int deltas = 3;
};

// Makes the release releasesDir/<version>: the package, for a zip its manifest
// "<name>_<version>.manifest.json" and its deltas, release.json and the static site
// (staticsite.h). All or nothing: on failure nothing new is left behind, and the failure is one
// line saying why.
Result<Release> publish(const PublishRequest& request);

} // namespace updateservice
