#include "install/zipinstall.h"

#include "base/savedfile.h"
#include "base/userpaths.h"
#include "global.h"
#include "install/clientbackup.h"
#include "install/copycommand.h"
#include "install/elevatedinstall.h"
#include "install/installedconfig.h"
#include "install/installedfiles.h"
#include "install/packageunpacker.h"
#include "install/treecomparison.h"
#include "release/installedsequence.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr int kCopySettleMs = 500;
}

bool ZipInstall::Install(const QString& package, const ReleaseOffer& offer)
{
    if (DecompressionReplac(package, offer) != 0)
        return false;
    g_global.UpAppThread();
    return true;
}

int ZipInstall::DecompressionReplac(const QString& package, const ReleaseOffer& offer)
{
    if (ElevatedInstall::needed())
        return InstallElevated(package, offer);
    const QString unpackFolder = QFileInfo(package).absolutePath() + QLatin1Char('/');
    PackageUnpacker unpacker(package, unpackFolder);
    if (unpacker.unpack(RoomForUnpacking(unpackFolder)) != PackageUnpacker::Result::Unpacked)
        return -1;
    qInfo() << package << " successfully decompressed";
    return ReplaceClient(package, offer);
}

int ZipInstall::ReplaceClient(const QString& package, const ReleaseOffer& offer)
{
    const Platform::CopyRequest copy =
        CopyCommand::unpackedTreeCopy(package, QDir::currentPath(), QDir::homePath());
    const Outcome prepared = PrepareUpdaterFolder(copy.source, offer, m_verifiedTree);
    if (!prepared) {
        qDebug().noquote() << "package refused:" << prepared.error();
        return -1;
    }
    const QStringList dropped =
        InstalledFiles::droppedBy(copy.source, copy.target, QDir::current().dirName());
    ClientBackup backup;
    if (!backup.save(copy.source, copy.target, copy.elevate, dropped))
        return -1;
    if (!CopyUnpackedTree(copy) || !RemoveDropped(copy, dropped))
        return RestoreClient(backup);
    backup.keepPermissions();
    if (!Confirmed(offer))
        return RestoreClient(backup);
    qInfo() << QDir::currentPath() << " copy file successed";
    if (!LeaveForClient(offer))
        return RestoreClient(backup);
    if (offer.sequence > 0)
        InstalledSequence::write(offer.sequence);
    backup.discard();
    return 0;
}

// The elevated side installs the client and keeps its journal, backup and sequence beside it;
// what is left here is the user's own: the notes for the client and the per-user records. Once
// the client folder holds the new release, a note that cannot be written undoes nothing.
int ZipInstall::InstallElevated(const QString& package, const ReleaseOffer& offer)
{
    if (!ElevatedInstall::install(package, offer))
        return -1;
    if (!LeaveForClient(offer))
        qDebug() << "installed, but the notes or the state file for the client are missing";
    if (offer.sequence > 0)
        InstalledSequence::write(offer.sequence);
    return 0;
}

bool ZipInstall::LeaveForClient(const ReleaseOffer& offer)
{
    if (!WriteForClient(UserPaths::clientDataDir() + QStringLiteral("/update.log"),
                        offer.notesIn(g_global.m_language).toUtf8()) ||
        !WriteForClient(UserPaths::notesMarker(), QByteArrayLiteral("1")) ||
        g_global.WriteConfigToFile(QStringLiteral("version"), offer.version) != 0)
        return false;
    qWarning() << "autoupdate config veison update successed";
    return true;
}

// The unpacked tree is written beside the package and then copied over the client: both volumes
// must hold it.
qint64 ZipInstall::RoomForUnpacking(const QString& unpackFolder)
{
    return qMin(g_global.DiskSpaceDetection(unpackFolder),
                g_global.DiskSpaceDetection(Platform::current().workingVolume()));
}

// The copy counts as done only when every file of the unpacked tree came out whole in the client
// folder: a copy tool can fail halfway, and on Windows the elevated one can still be running.
bool ZipInstall::CopyUnpackedTree(const Platform::CopyRequest& copy)
{
    const Platform::ToolRun copied = Platform::current().copyTree(copy);
    if (!copied) {
        qDebug() << "copy file error: " << copied.error();
        return false;
    }
    if (copied.value() != 0) {
        qDebug() << "copy file error: exit code" << copied.value();
        return false;
    }
    Platform::current().pause(kCopySettleMs);
    return CopiedWhole(copy.source, copy.target);
}

bool ZipInstall::CopiedWhole(const QString& tree, const QString& clientFolder)
{
    QElapsedTimer timer;
    timer.start();
    const QStringList files = TreeComparison::filesBelow(tree);
    const QString different = TreeComparison::firstDifference(tree, clientFolder, files);
    if (!different.isEmpty()) {
        qDebug() << "copy file error: differs" << clientFolder + QLatin1Char('/') + different;
        return false;
    }
    qInfo() << "copied files compared:" << files.size() << "files, in" << timer.elapsed() << "ms";
    return true;
}

// The backup moved the dropped files away where it could; those it had to copy are removed now.
bool ZipInstall::RemoveDropped(const Platform::CopyRequest& copy, const QStringList& dropped)
{
    QStringList remaining;
    for (const QString& path : dropped) {
        const QString installed = copy.target + QLatin1Char('/') + path;
        if (Platform::pathKind(installed) == Platform::PathKind::File)
            remaining.append(installed);
    }
    if (!remaining.isEmpty())
        Platform::current().removePaths(CopyCommand::removal(remaining, copy.elevate));
    for (const QString& path : qAsConst(remaining)) {
        if (Platform::pathKind(path) != Platform::PathKind::Missing) {
            qDebug() << "dropped file not removed:" << path;
            return false;
        }
    }
    if (!dropped.isEmpty())
        qInfo() << "dropped files removed:" << dropped.size();
    return true;
}

// The client's own configuration is the only proof that the copy installed the new version.
bool ZipInstall::Confirmed(const ReleaseOffer& offer)
{
    if (g_global.GetClientVersion() == -1)
        return false;
    if (g_global.m_currentVersion != offer.version) {
        qDebug() << "files replace error";
        return false;
    }
    const Outcome usable = InstalledConfig::check(Global::InstalledConfigFile(), offer.version);
    if (!usable) {
        qDebug().noquote() << "installed configuration not usable:" << usable.error();
        return false;
    }
    return true;
}

// The updater's own folder in the unpacked tree is copied beside the client with the rest of the
// release, with the rights of the copy: the configuration it carries is made this installation's,
// the signed release's sequence is recorded there, and last the list of every file installed.
Outcome ZipInstall::PrepareUpdaterFolder(const QString& tree, const ReleaseOffer& offer,
                                         const ReleaseManifest* verifiedTree)
{
    const QString updater = QDir::current().dirName();
    const QString folder = tree + QLatin1Char('/') + updater;
    const Outcome kept = InstalledConfig::keepInstallation(
        folder + QLatin1Char('/') + Global::InstalledConfigFile(), Global::InstalledConfigFile());
    if (!kept)
        return kept;
    QDir().mkpath(folder);
    const QString record =
        folder + QLatin1Char('/') + QFileInfo(InstalledSequence::clientSidePath()).fileName();
    if (offer.sequence > 0 && !InstalledSequence::write(offer.sequence, record))
        return Outcome::failure(QStringLiteral("cannot write ") + record);
    return InstalledFiles::record(tree, updater, verifiedTree);
}

// A failed install leaves the client folder as it was, and nothing that announces the new
// version to the client.
int ZipInstall::RestoreClient(ClientBackup& backup)
{
    QFile::remove(UserPaths::notesMarker());
    backup.restore();
    return -1;
}

// Files left in the client's data folder for its next start; the folder is the client's, so it
// is not created here.
bool ZipInstall::WriteForClient(const QString& path, const QByteArray& content)
{
    const QString name = QFileInfo(path).fileName();
    const Outcome written = SavedFile::write(path, content);
    if (!written) {
        qDebug().noquote() << name + QStringLiteral(" write failed:") << written.code();
        return false;
    }
    qInfo().noquote() << name + QStringLiteral(" write successed");
    return true;
}
