#include "install/deltainstall.h"

#include "base/filedigest.h"
#include "base/sha256.h"
#include "global.h"
#include "install/deltarebuild.h"
#include "install/packageunpacker.h"
#include "install/twolanes.h"
#include "release/fieldreader.h"
#include "release/releasemanifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// A patch applies only to the very file it was made against.
Outcome CheckPatchedFile(const DeltaPlan::Change& change, const QString& clientFolder)
{
    const QString path = clientFolder + QLatin1Char('/') + change.path;
    const QFileInfo file(path);
    if (!file.isFile() || file.isSymLink())
        return Outcome::failure(QStringLiteral("%1 is not installed").arg(change.path));
    if (file.size() != change.oldSize)
        return Outcome::failure(QStringLiteral("%1 is %2 bytes, not the %3 the delta patches")
                                    .arg(change.path)
                                    .arg(file.size())
                                    .arg(change.oldSize));
    const Result<QString> sha256 = FileDigest::sha256(path);
    if (!sha256)
        return Outcome::failure(sha256.error());
    if (sha256.value() != change.oldSha256)
        return Outcome::failure(
            QStringLiteral("%1 differs from the file the delta patches").arg(change.path));
    return Outcome::success();
}

Result<QByteArray> ReadSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > FieldReader::kMaxDocumentBytes)
        return Result<QByteArray>::failure(QStringLiteral("cannot read %1").arg(path));
    return file.readAll();
}

// The manifest the delta carries, which must be the one the release names.
Result<ReleaseManifest> ReleaseManifestIn(const QString& deltaFolder, const ReleaseOffer& offer)
{
    const Result<QByteArray> json =
        ReadSmallFile(deltaFolder + QLatin1Char('/') + DeltaPlan::manifestFile());
    if (!json)
        return Result<ReleaseManifest>::failure(json.error());
    if (Sha256::hexOf(json.value()) != offer.manifestSha256)
        return Result<ReleaseManifest>::failure(
            QStringLiteral("the delta's manifest is not the release's"));
    return ReleaseManifest::fromJson(json.value());
}

Result<QString> Unpacked(const QString& deltaPackage)
{
    const QString folder = QFileInfo(deltaPackage).absolutePath() + QLatin1Char('/');
    PackageUnpacker unpacker(deltaPackage, folder);
    if (unpacker.unpack(g_global.DiskSpaceDetection(folder)) != PackageUnpacker::Result::Unpacked)
        return Result<QString>::failure(QStringLiteral("the delta cannot be unpacked"));
    return folder + PackageUnpacker::topFolderName(deltaPackage);
}

} // namespace

namespace DeltaInstall {

const DeltaOffer* UsableDelta(const ReleaseOffer& offer, const QString& installedVersion)
{
    if (offer.packageKind() != PackageKind::Zip || offer.manifestSha256.isEmpty())
        return nullptr;
    return offer.deltaFrom(installedVersion);
}

Result<DeltaPlan> AnnouncedPlan(const QByteArray& planBytes, const DeltaOffer& delta,
                                const ReleaseOffer& offer, const QString& installedVersion)
{
    using R = Result<DeltaPlan>;
    if (Sha256::hexOf(planBytes) != delta.planSha256)
        return R::failure(QStringLiteral("the plan's SHA-256 is not the announced one"));
    const R plan = DeltaPlan::fromJson(planBytes);
    if (!plan)
        return R::failure(QStringLiteral("the plan is refused: ") + plan.error());
    if (plan->fromVersion() != installedVersion || plan->toVersion() != offer.version)
        return R::failure(QStringLiteral("the plan turns %1 into %2")
                              .arg(plan->fromVersion(), plan->toVersion()));
    return plan;
}

// Two lanes, as the files are mostly read and hashed: every other one beside.
Outcome CheckPatchedFiles(const DeltaPlan& plan, const QString& clientFolder)
{
    QVector<DeltaPlan::Change> lanes[2];
    for (const DeltaPlan::Change& change : plan.changes()) {
        if (change.appliesToOldFile())
            lanes[lanes[0].size() > lanes[1].size() ? 1 : 0].append(change);
    }
    return onTwoLanes<DeltaPlan::Change>(lanes[0], lanes[1], [&](const DeltaPlan::Change& change) {
        return CheckPatchedFile(change, clientFolder);
    });
}

Result<ReleaseManifest> Rebuild(const QString& deltaPackage, const DeltaPlan& plan,
                                const ReleaseOffer& offer, const QString& clientFolder,
                                const QString& outputTree)
{
    using R = Result<ReleaseManifest>;
    const Result<QString> deltaFolder = Unpacked(deltaPackage);
    if (!deltaFolder)
        return R::failure(deltaFolder.error());
    // The rebuild checks that the plan agrees with the manifest, dropped files included.
    const Result<ReleaseManifest> manifest = ReleaseManifestIn(deltaFolder.value(), offer);
    if (!manifest)
        return manifest;
    QDir(outputTree).removeRecursively();
    const Outcome rebuilt =
        DeltaRebuild(plan, manifest.value(), deltaFolder.value(), clientFolder).rebuild(outputTree);
    QDir(deltaFolder.value()).removeRecursively();
    if (!rebuilt)
        return R::failure(rebuilt.error());
    return manifest;
}

} // namespace DeltaInstall
