#include "release/releaseoffer.h"

#include <QFileInfo>

namespace {
constexpr qint64 kInstallerType = 0;
constexpr qint64 kZipType = 1;
constexpr qint64 kUnknownType = -1;
} // namespace

PackageKind ReleaseOffer::packageKind() const
{
    switch (updateType) {
    case kInstallerType:
        return PackageKind::Installer;
    case kZipType:
        return PackageKind::Zip;
    default:
        return PackageKind::Unknown;
    }
}

qint64 ReleaseOffer::updateTypeOf(PackageKind kind)
{
    switch (kind) {
    case PackageKind::Installer:
        return kInstallerType;
    case PackageKind::Zip:
        return kZipType;
    case PackageKind::Unknown:
        break;
    }
    return kUnknownType;
}

QString ReleaseOffer::notesIn(const QString& language) const
{
    if (!notes.contains(QLatin1Char('&')))
        return notes;
    const QStringList pieces = notes.split(QLatin1Char('&'));
    return language == QLatin1String("zh") ? pieces.at(0) : pieces.at(1).trimmed();
}

QString ReleaseOffer::packageFileName() const
{
    return QFileInfo(url).fileName();
}

bool DeltaOffer::operator==(const DeltaOffer& other) const
{
    return fromVersion == other.fromVersion && url == other.url && size == other.size &&
           sha256 == other.sha256 && planUrl == other.planUrl && planSize == other.planSize &&
           planSha256 == other.planSha256;
}

const DeltaOffer* ReleaseOffer::deltaFrom(const QString& installedVersion) const
{
    for (const DeltaOffer& delta : deltas) {
        if (delta.fromVersion == installedVersion)
            return &delta;
    }
    return nullptr;
}
