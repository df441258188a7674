#pragma once

#include "release/releaseoffer.h"

#include <QString>

#include <memory>

// One kind of package install: what the updater does with a downloaded and verified package. A
// successful install ends the run by starting the client, or the installer in its place; a failed
// one has left the client folder as it was, and the user may retry.
class PackageInstall
{
public:
    virtual ~PackageInstall() = default;

    // False when the install failed.
    virtual bool Install(const QString& package, const ReleaseOffer& offer) = 0;

    // The install for a kind of package; none for a kind the updater does not install.
    static std::unique_ptr<PackageInstall> ForKind(PackageKind kind);
};
