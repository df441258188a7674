#include "install/stagedinstall.h"

#include "base/jsonfile.h"
#include "base/logfile.h"
#include "base/packagedigest.h"
#include "base/savedfile.h"
#include "global.h"
#include "install/clientbackup.h"
#include "install/copycommand.h"
#include "install/installedconfig.h"
#include "install/installedfiles.h"
#include "install/packageunpacker.h"
#include "install/stagingfolder.h"
#include "install/treecopy.h"
#include "install/zipinstall.h"
#include "platform/helperrun.h"
#include "platform/platform.h"
#include "release/answerfields.h"
#include "release/installedsequence.h"
#include "release/releasesignature.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLockFile>

namespace {

constexpr int kHeartbeatMs = 1000;
// The answer is a check answer's "biz" object, which a check never takes past 1 MiB.
constexpr qint64 kMaxAnswerBytes = 1 << 20;
constexpr qint64 kBlockSize = 1 << 20;

enum ExitCode { Done = 0, Failed = 1, Unusable = 2 };

// Reads the user's file once, never past its bound, and only a plain file: a FIFO or a device
// could hold the elevated side forever.
Result<ReleaseOffer> readAnswer(const QString& path)
{
    using Refusal = Result<ReleaseOffer>;
    QFile file(path);
    if (!Platform::openPlainFile(file, path))
        return Refusal::failure(QStringLiteral("answer cannot be read: ") + path);
    const QByteArray bytes = file.read(kMaxAnswerBytes + 1);
    if (bytes.size() > kMaxAnswerBytes)
        return Refusal::failure(QStringLiteral("answer longer than %1 bytes").arg(kMaxAnswerBytes));
    const QJsonDocument answer = QJsonDocument::fromJson(bytes);
    if (!answer.isObject())
        return Refusal::failure(QStringLiteral("answer is no JSON object"));
    return AnswerFields::fromBiz(answer.object());
}

// The answer's word is only taken once its signature, by a key of the installed configuration,
// holds, and its sequence is not below the one kept beside the client.
Outcome verifyAnswer(const ReleaseOffer& offer)
{
    // An answer that offers nothing would pass unsigned.
    if (offer.offersNothing() || offer.packageKind() != PackageKind::Zip || offer.version.isEmpty())
        return Outcome::failure(QStringLiteral("answer offers no zip release"));
    const auto config = JsonFile::read(Global::InstalledConfigFile());
    if (!config)
        return Outcome::failure(Global::InstalledConfigFile() + QStringLiteral(" cannot be read"));
    const ReleaseSignature::TrustedKeys keys =
        ReleaseSignature::trustedKeys(config->value(QStringLiteral("publicKey")));
    const Result<qint64> verified =
        ReleaseSignature::verify(offer, keys, InstalledSequence::readBesideClient());
    return verified ? Outcome::success() : Outcome::failure(verified.error());
}

// The package's name comes from the verified answer, and is one file name.
Result<QString> stagedPackagePath(const StagingFolder& staging, const ReleaseOffer& offer)
{
    const QString name = offer.packageFileName();
    if (name.isEmpty() || PackageUnpacker::topFolderName(name).isEmpty() ||
        name.contains(QLatin1Char('\\')))
        return Result<QString>::failure(QStringLiteral("answer names no package file"));
    const Outcome made = staging.makeWorkFolder();
    if (!made)
        return Result<QString>::failure(made.error());
    return staging.workFolder() + QLatin1Char('/') + name;
}

Outcome checkDigests(const PackageDigest& digest, qint64 size, const ReleaseOffer& offer)
{
    if (size != offer.packageSize)
        return Outcome::failure(
            QStringLiteral("package holds %1 bytes, not %2").arg(size).arg(offer.packageSize));
    if (digest.md5() != offer.md5)
        return Outcome::failure(QStringLiteral("package MD5 differs from the answer's"));
    if (digest.sha256() != offer.sha256)
        return Outcome::failure(QStringLiteral("package SHA-256 differs from the answer's"));
    return Outcome::success();
}

// The package is read once, into a file of the staging folder that did not exist; what the user
// changes in the original afterwards reaches nothing. A byte past the announced size refuses it.
Outcome stagePackage(const QString& source, const QString& staged, const ReleaseOffer& offer)
{
    QFile from(source);
    QFile to(staged);
    if (!Platform::openPlainFile(from, source))
        return Outcome::failure(QStringLiteral("package cannot be read: ") + source);
    if (!to.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Outcome::failure(QStringLiteral("package cannot be staged: ") + to.errorString());
    PackageDigest digest;
    digest.reset(!offer.sha256.isEmpty());
    QByteArray block(kBlockSize, Qt::Uninitialized);
    qint64 size = 0;
    for (qint64 n; (n = from.read(block.data(), kBlockSize)) > 0;) {
        size += n;
        if (size > offer.packageSize)
            return Outcome::failure(
                QStringLiteral("package longer than %1 bytes").arg(offer.packageSize));
        if (to.write(block.constData(), n) != n)
            return Outcome::failure(QStringLiteral("package cannot be staged: ") +
                                    to.errorString());
        digest.addData(block.constData(), n);
    }
    if (from.error() != QFileDevice::NoError || !to.flush())
        return Outcome::failure(QStringLiteral("package cannot be staged: ") + source);
    return checkDigests(digest, size, offer);
}

// The unpacked tree, ready to be copied: the package checked and unpacked in the staging folder,
// the updater's folder in it made this installation's.
Result<QString> stagedTree(const StagingFolder& staging, const QString& package,
                           const ReleaseOffer& offer)
{
    const Result<QString> staged = stagedPackagePath(staging, offer);
    if (!staged)
        return staged;
    const Outcome ready = stagePackage(package, staged.value(), offer);
    if (!ready)
        return Result<QString>::failure(ready.error());
    const QString work = staging.workFolder() + QLatin1Char('/');
    PackageUnpacker unpacker(staged.value(), work);
    if (unpacker.unpack(g_global.DiskSpaceDetection(work)) != PackageUnpacker::Result::Unpacked)
        return Result<QString>::failure(QStringLiteral("package not unpacked"));
    const QString tree = work + PackageUnpacker::topFolderName(staged.value());
    const Outcome prepared = ZipInstall::PrepareUpdaterFolder(tree, offer);
    if (!prepared)
        return Result<QString>::failure(prepared.error());
    return tree;
}

Outcome copyInProcess(const QString& tree, const QString& client, const QString& heartbeat)
{
    QElapsedTimer sinceBeat;
    sinceBeat.start();
    return TreeCopy::copy(tree, client, [&] {
        if (sinceBeat.hasExpired(kHeartbeatMs)) {
            HelperRun::beat(heartbeat);
            sinceBeat.restart();
        }
    });
}

// The backup moved the dropped files away where it could; those it had to copy go now.
Outcome removeDropped(const QString& client, const QStringList& dropped)
{
    for (const QString& path : dropped) {
        QFile file(client + QLatin1Char('/') + path);
        if (file.exists() && !file.remove())
            return Outcome::failure(QStringLiteral("dropped file not removed: ") + file.fileName());
    }
    return Outcome::success();
}

// Copies over the client with the backup taken; any failure puts the client folder back.
int copyOverClient(const QString& tree, ClientBackup& backup, const ReleaseOffer& offer,
                   const QString& heartbeat)
{
    const QString client = CopyCommand::targetFolder(QDir::currentPath());
    const QStringList dropped = InstalledFiles::droppedBy(tree, client, QDir::current().dirName());
    if (!backup.save(tree, client, false, dropped))
        return Failed;
    Outcome copied = copyInProcess(tree, client, heartbeat);
    if (copied)
        copied = removeDropped(client, dropped);
    if (!copied)
        qDebug().noquote() << "copy file error:" << copied.error();
    const Outcome confirmed =
        copied && ZipInstall::CopiedWhole(tree, client)
            ? InstalledConfig::check(Global::InstalledConfigFile(), offer.version)
            : Outcome::failure(QStringLiteral("copy incomplete"));
    if (!confirmed) {
        qDebug().noquote() << "install not confirmed:" << confirmed.error();
        backup.restore();
        return Failed;
    }
    backup.keepPermissions();
    qInfo() << QDir::currentPath() << " copy file successed";
    backup.discard();
    return Done;
}

int install(const StagingFolder& staging, ClientBackup& backup, const QString& package,
            const QString& answerPath)
{
    staging.clearWork();
    const Result<ReleaseOffer> offer = readAnswer(answerPath);
    const Outcome verified = offer ? verifyAnswer(offer.value()) : Outcome::failure(offer.error());
    if (!verified) {
        qWarning().noquote() << "elevated install refused:" << verified.error();
        return Failed;
    }
    const Result<QString> tree = stagedTree(staging, package, offer.value());
    if (!tree) {
        qWarning().noquote() << "elevated install refused:" << tree.error();
        staging.clearWork();
        return Failed;
    }
    const int exitCode = copyOverClient(tree.value(), backup, offer.value(),
                                        HelperRun::heartbeatPath(staging.verdictPath()));
    staging.clearWork();
    return exitCode;
}

void leaveVerdict(const StagingFolder& staging, const QString& tag, int exitCode)
{
    SavedFile::write(staging.verdictPath(), tag.toUtf8() + ' ' + QByteArray::number(exitCode));
    QFile::remove(HelperRun::heartbeatPath(staging.verdictPath()));
}

} // namespace

QString StagedInstall::installSwitch()
{
    return QStringLiteral("-installpackage");
}

QString StagedInstall::restoreSwitch()
{
    return QStringLiteral("-restoreinstall");
}

bool StagedInstall::requested(int argc, char** argv)
{
    if (argc < 2)
        return false;
    const QString requestedSwitch = QString::fromLocal8Bit(argv[1]);
    return requestedSwitch == installSwitch() || requestedSwitch == restoreSwitch();
}

int StagedInstall::run(const QStringList& arguments)
{
    const bool installing = arguments.value(0) == installSwitch();
    if (arguments.size() != (installing ? 4 : 2))
        return Unusable;
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    const StagingFolder staging(QDir::currentPath());
    if (!staging.prepare())
        return Unusable;
    // One install or restore at a time: a later one waits here for one still running, however
    // long it takes, and takes over the lock of one that was killed.
    QLockFile lock(staging.lockPath());
    lock.setStaleLockTime(0);
    if (!lock.lock())
        return Unusable;
    // The user's side cannot remove what an earlier install set aside in a folder only this side
    // may change, such as the updater that ran then.
    TreeCopy::removeSetAside(QDir::currentPath());
    QFile::remove(staging.logPath());
    LogFile::setPath(staging.logPath());
    qInstallMessageHandler(LogFile::messageHandler);
    const QString tag = arguments.at(1);
    HelperRun::beat(HelperRun::heartbeatPath(staging.verdictPath()));
    ClientBackup backup(
        staging.journalPath(),
        {CopyCommand::targetFolder(QDir::currentPath()), staging.backupFolder(), false},
        ClientBackup::Writer::ThisProcess);
    int exitCode = backup.restoreInterrupted() ? Done : Failed;
    if (installing && exitCode == Done)
        exitCode = install(staging, backup, arguments.at(2), arguments.at(3));
    else if (exitCode == Done)
        staging.clearWork();
    leaveVerdict(staging, tag, exitCode);
    return exitCode;
}
