#pragma once

#include "install/packageinstall.h"

// An installer package: the downloaded program is started in the client's place, with the
// client's arguments, and the run ends.
class InstallerInstall : public PackageInstall
{
public:
    bool Install(const QString& package, const ReleaseOffer& offer) override;
};
