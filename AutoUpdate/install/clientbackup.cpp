#include "install/clientbackup.h"

#include "base/savedfile.h"
#include "base/userpaths.h"
#include "install/copycommand.h"
#include "install/treecomparison.h"
#include "install/treecopy.h"
#include "platform/helperrun.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {

const QString kJournalName = QStringLiteral("install-journal");

// Asked of the open file: by name, Qt takes a file ending in ".lnk" for a Windows shortcut and
// answers for its target. -1 when the file cannot be opened.
qint64 openFileSize(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.size() : -1;
}

// A file's own permission bits. Qt's "user" flags say what the running user may do, and setting
// them sets the owner's bits when that user owns the file: they are no part of the file's mode.
QFile::Permissions modeOf(const QString& path)
{
    return QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}

// The updater's own folder holds what the copy still needs while it runs (the updater in copy
// mode, nircmd), so its files are copied into the backup, never moved away.
bool inUpdaterFolder(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QString updaterFolder = QCoreApplication::applicationDirPath();
    return folder == updaterFolder || folder.startsWith(updaterFolder + QLatin1Char('/'));
}

// What copying tree over the place's client folder will change: the client files it overwrites,
// the files and the folders it adds.
InstallJournal changesOf(const QString& tree, const InstallJournal::Place& place,
                         const QStringList& dropped)
{
    const auto kindInClient = [&place](const QString& relativePath) {
        return Platform::pathKind(place.clientFolder + QLatin1Char('/') + relativePath);
    };
    QStringList saved;
    QStringList added;
    QStringList addedFolders;
    for (const QString& folder : TreeComparison::foldersBelow(tree)) {
        if (kindInClient(folder) == Platform::PathKind::Missing)
            addedFolders.append(folder);
    }
    for (const QString& file : TreeComparison::filesBelow(tree)) {
        const Platform::PathKind kind = kindInClient(file);
        if (kind == Platform::PathKind::File)
            saved.append(file);
        else if (kind == Platform::PathKind::Missing)
            added.append(file);
    }
    for (const QString& file : dropped) {
        if (kindInClient(file) == Platform::PathKind::File && !saved.contains(file))
            saved.append(file);
    }
    return InstallJournal(place, saved, added, addedFolders);
}

} // namespace

ClientBackup::ClientBackup() : ClientBackup(journalPath(), currentPlace(), Writer::Platform) {}

ClientBackup::ClientBackup(const QString& journalPath, const InstallJournal::Place& place,
                           Writer writer)
    : m_journalPath(journalPath), m_backupFolder(place.backupFolder), m_place(place),
      m_writer(writer)
{}

QString ClientBackup::journalPath()
{
    return UserPaths::updaterDir() + QLatin1Char('/') + kJournalName + QStringLiteral(".json");
}

QString ClientBackup::backupFolder()
{
    return UserPaths::updaterDir() + QStringLiteral("/install-backup");
}

InstallJournal::Place ClientBackup::currentPlace()
{
    const QString client = CopyCommand::targetFolder(QDir::currentPath());
    const bool elevate = CopyCommand::needsElevation(HelperRun::toBackslashes(client),
                                                     HelperRun::toBackslashes(QDir::homePath()));
    return {client, backupFolder(), elevate};
}

bool ClientBackup::save(const QString& tree, const QString& clientFolder, bool elevate,
                        const QStringList& dropped)
{
    switch (restoreLeftover()) {
    case Leftover::None:
        break;
    case Leftover::Unrestored:
        // The backup of an earlier install holds client files that are nowhere else: while it
        // cannot be restored, no other install begins.
        qDebug() << "earlier install not restored, no new install begins:" << m_journalPath;
        return false;
    case Leftover::Rejected:
        // A journal that is not ours is neither deleted nor overwritten.
        qDebug() << "install not started: a rejected journal is in the way:" << m_journalPath;
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    m_journal = changesOf(tree, {clientFolder, m_backupFolder, elevate}, dropped);
    QDir(m_backupFolder).removeRecursively();
    QDir().mkpath(m_backupFolder);
    if (!writeJournal()) {
        QDir(m_backupFolder).removeRecursively();
        return false;
    }
    qint64 moved = 0;
    qint64 copied = 0;
    for (const QString& file : m_journal.saved()) {
        if (!saveFile(file, &moved, &copied)) {
            restore();
            return false;
        }
    }
    qInfo() << "client files saved:" << m_journal.saved().size() << "files," << moved + copied
            << "bytes," << copied << "bytes copied," << m_journal.added().size()
            << "files to add, in" << timer.elapsed() << "ms";
    return true;
}

// A file is moved where the backup lies on the client's volume and the client's folder lets the
// updater: that costs nothing and leaves its bytes where the disk has them. Otherwise it is
// copied, and the copy is on the disk before the client's file is overwritten.
bool ClientBackup::saveFile(const QString& relativePath, qint64* moved, qint64* copied) const
{
    const QString from = clientPath(relativePath);
    const QString to = backupPath(relativePath);
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile source(from);
    const qint64 size = openFileSize(from);
    if (!inUpdaterFolder(from) && Platform::moveFile(from, to)) {
        *moved += size;
        return true;
    }
    // A copy cut short by a full disk can still be reported done: its size tells. The copy keeps
    // the file's permissions, read-only included, as a move would.
    if (!source.copy(to) || openFileSize(to) != size || !QFile::setPermissions(to, modeOf(from))) {
        qDebug() << "client file not saved:" << from << static_cast<int>(source.error());
        return false;
    }
    *copied += size;
    return true;
}

bool ClientBackup::writeJournal() const
{
    const Result<QByteArray> journal = m_journal.toBytes();
    if (!journal) {
        qDebug() << m_journalPath << " not written:" << journal.error();
        return false;
    }
    const Outcome written = SavedFile::write(m_journalPath, journal.value());
    if (!written) {
        qDebug() << m_journalPath << " write failed:" << written.code();
        return false;
    }
    return true;
}

bool ClientBackup::restore()
{
    removeStrayBackupFiles();
    const QStringList saved = savedInBackup();
    if (m_writer == Writer::ThisProcess)
        putBackInProcess(saved);
    else
        putBackThroughPlatform(saved);
    keepPermissions();
    if (!clientFolderRestored(saved))
        return false;
    qInfo() << "client folder restored:" << m_journal.place().clientFolder << saved.size()
            << "files put back," << m_journal.added().size() << "added files removed";
    discard();
    return true;
}

// What the package added goes first: on a volume the copy filled, that makes the room the saved
// files need to come back.
void ClientBackup::putBackThroughPlatform(const QStringList& saved) const
{
    Platform& platform = Platform::current();
    const bool elevate = m_journal.place().elevate;
    platform.removePaths(CopyCommand::removal(addedPaths(), elevate));
    if (saved.isEmpty())
        return;
    const Platform::ToolRun copied = platform.copyTree(
        CopyCommand::request(m_backupFolder, m_journal.place().clientFolder, elevate));
    if (!copied || copied.value() != 0)
        qDebug() << "restore copy error:" << (copied ? QProcess::UnknownError : copied.error())
                 << (copied ? copied.value() : 0);
}

// In the same order as through the platform; a link is removed as itself, and an added folder
// only once it is empty.
void ClientBackup::putBackInProcess(const QStringList& saved) const
{
    for (const QString& path : addedPaths()) {
        const Platform::PathKind kind = Platform::pathKind(path);
        const bool removed = kind == Platform::PathKind::Missing ||
                             (kind != Platform::PathKind::Folder && QFile::remove(path)) ||
                             QDir().rmdir(path);
        if (!removed)
            qDebug() << "remove paths error:" << path;
    }
    if (saved.isEmpty())
        return;
    const Outcome copied = TreeCopy::copy(m_backupFolder, m_journal.place().clientFolder, [] {});
    if (!copied)
        qDebug().noquote() << "restore copy error:" << copied.error();
}

void ClientBackup::keepPermissions() const
{
    for (const QString& file : savedInBackup())
        QFile::setPermissions(clientPath(file), modeOf(backupPath(file)));
}

// The saved files that reached the backup. One that did not was never moved: the run ended
// before the copy, and the client's file is still the one it was.
QStringList ClientBackup::savedInBackup() const
{
    QStringList saved;
    for (const QString& file : m_journal.saved()) {
        if (Platform::pathKind(backupPath(file)) == Platform::PathKind::File)
            saved.append(file);
    }
    return saved;
}

// A copy into the backup that was cut off leaves a temporary file, which must not be copied into
// the client's folder.
void ClientBackup::removeStrayBackupFiles() const
{
    const QSet<QString> saved(m_journal.saved().cbegin(), m_journal.saved().cend());
    for (const QString& file : TreeComparison::filesBelow(m_backupFolder)) {
        if (!saved.contains(file))
            QFile::remove(backupPath(file));
    }
}

// The added files first, then the added folders, the deepest first, so each is empty in turn.
QStringList ClientBackup::addedPaths() const
{
    QStringList paths;
    for (const QString& file : m_journal.added())
        paths.append(clientPath(file));
    QStringList folders = m_journal.addedFolders();
    std::sort(folders.begin(), folders.end(), std::greater<QString>());
    for (const QString& folder : qAsConst(folders))
        paths.append(clientPath(folder));
    return paths;
}

bool ClientBackup::clientFolderRestored(const QStringList& saved) const
{
    const QString different =
        TreeComparison::firstDifference(m_backupFolder, m_journal.place().clientFolder, saved);
    if (!different.isEmpty()) {
        qDebug() << "restore failed, file differs:" << clientPath(different);
        return false;
    }
    for (const QString& file : saved) {
        if (modeOf(clientPath(file)) != modeOf(backupPath(file))) {
            qDebug() << "restore failed, permissions differ:" << clientPath(file);
            return false;
        }
    }
    for (const QString& file : m_journal.saved()) {
        if (Platform::pathKind(clientPath(file)) != Platform::PathKind::File) {
            qDebug() << "restore failed, file missing:" << clientPath(file);
            return false;
        }
    }
    for (const QString& file : m_journal.added()) {
        if (Platform::pathKind(clientPath(file)) != Platform::PathKind::Missing) {
            qDebug() << "restore failed, added file left:" << clientPath(file);
            return false;
        }
    }
    return true;
}

void ClientBackup::discard()
{
    // Without the journal the backup is nothing; with it, the backup must stay whole.
    if (!QFile::remove(m_journalPath) && QFile::exists(m_journalPath)) {
        qDebug() << m_journalPath << " remove failed";
        return;
    }
    QDir(m_backupFolder).removeRecursively();
}

bool ClientBackup::restoreInterrupted()
{
    return restoreLeftover() == Leftover::None;
}

bool ClientBackup::restoreInterruptedInstall()
{
    return ClientBackup().restoreInterrupted();
}

ClientBackup::Leftover ClientBackup::restoreLeftover()
{
    if (!QFile::exists(m_journalPath))
        return Leftover::None;
    qInfo() << "unfinished install found:" << m_journalPath;
    const Result<InstallJournal> journal = InstallJournal::fromFile(m_journalPath, m_place);
    if (!journal)
        return setAside(journal.error()) ? Leftover::None : Leftover::Rejected;
    m_journal = journal.value();
    return restore() ? Leftover::None : Leftover::Unrestored;
}

// A rejected journal is kept for whoever looks into what happened, under a name no run reads;
// so is the backup folder, which may hold the only copy of client files.
bool ClientBackup::setAside(const QString& reason) const
{
    const QString stamp =
        QStringLiteral(".rejected-") + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz");
    const QString journal = QFileInfo(m_journalPath).path() + QLatin1Char('/') + kJournalName +
                            stamp + QStringLiteral(".json");
    if (!QFile::rename(m_journalPath, journal)) {
        qWarning().noquote()
            << QStringLiteral("install journal rejected: %1; not set aside").arg(reason);
        return false;
    }
    qWarning().noquote()
        << QStringLiteral("install journal rejected: %1; set aside as %2").arg(reason, journal);
    if (QFileInfo::exists(m_backupFolder) && !QDir().rename(m_backupFolder, m_backupFolder + stamp))
        qWarning() << "backup folder not set aside:" << m_backupFolder;
    return true;
}

QString ClientBackup::clientPath(const QString& relativePath) const
{
    return m_journal.place().clientFolder + QLatin1Char('/') + relativePath;
}

QString ClientBackup::backupPath(const QString& relativePath) const
{
    return m_backupFolder + QLatin1Char('/') + relativePath;
}
