#include "install/packageinstall.h"

#include "install/installerinstall.h"
#include "install/zipinstall.h"

std::unique_ptr<PackageInstall> PackageInstall::ForKind(PackageKind kind)
{
    switch (kind) {
    case PackageKind::Installer:
        return std::make_unique<InstallerInstall>();
    case PackageKind::Zip:
        return std::make_unique<ZipInstall>();
    case PackageKind::Unknown:
        break;
    }
    return nullptr;
}
