#include "install/clientbackup.h"

#include "base/jsonfile.h"
#include "base/savedfile.h"
#include "base/userpaths.h"
#include "install/copycommand.h"
#include "install/treecomparison.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

QJsonArray jsonList(const QStringList& list)
{
    return QJsonArray::fromStringList(list);
}

QStringList stringList(const QJsonValue& value)
{
    QStringList list;
    for (const QJsonValue& item : value.toArray())
        list.append(item.toString());
    return list;
}

// Asked of the open file: by name, Qt takes a file ending in ".lnk" for a Windows shortcut and
// answers for its target. -1 when the file cannot be opened.
qint64 openFileSize(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.size() : -1;
}

// The updater's own folder holds what the copy still needs while it runs (the updater in copy
// mode, nircmd), so its files are copied into the backup, never moved away.
bool inUpdaterFolder(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QString updaterFolder = QCoreApplication::applicationDirPath();
    return folder == updaterFolder || folder.startsWith(updaterFolder + QLatin1Char('/'));
}

} // namespace

ClientBackup::ClientBackup() : m_journalPath(journalPath()), m_backupFolder(backupFolder()) {}

QString ClientBackup::journalPath()
{
    return UserPaths::updaterDir() + QStringLiteral("/install-journal.json");
}

QString ClientBackup::backupFolder()
{
    return UserPaths::updaterDir() + QStringLiteral("/install-backup");
}

bool ClientBackup::save(const QString& tree, const QString& clientFolder, bool elevate)
{
    // The backup of an earlier install holds client files that are nowhere else: it is restored
    // first, and while it cannot be, no other install begins.
    if (QFile::exists(m_journalPath) && !restoreInterruptedInstall()) {
        qDebug() << "earlier install not restored, no new install begins:" << m_journalPath;
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    m_clientFolder = clientFolder;
    m_elevate = elevate;
    m_saved.clear();
    m_added.clear();
    m_addedFolders.clear();
    QDir(m_backupFolder).removeRecursively();
    QDir().mkpath(m_backupFolder);

    for (const QString& folder : TreeComparison::foldersBelow(tree)) {
        if (Platform::pathKind(clientPath(folder)) == Platform::PathKind::Missing)
            m_addedFolders.append(folder);
    }
    for (const QString& file : TreeComparison::filesBelow(tree)) {
        const Platform::PathKind kind = Platform::pathKind(clientPath(file));
        if (kind == Platform::PathKind::File)
            m_saved.append(file);
        else if (kind == Platform::PathKind::Missing)
            m_added.append(file);
    }
    if (!writeJournal()) {
        QDir(m_backupFolder).removeRecursively();
        return false;
    }
    qint64 moved = 0;
    qint64 copied = 0;
    for (const QString& file : qAsConst(m_saved)) {
        if (!saveFile(file, &moved, &copied)) {
            restore();
            return false;
        }
    }
    qInfo() << "client files saved:" << m_saved.size() << "files," << moved + copied << "bytes,"
            << copied << "bytes copied," << m_added.size() << "files to add, in" << timer.elapsed()
            << "ms";
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
    // A copy cut short by a full disk can still be reported done: its size tells.
    if (!source.copy(to) || openFileSize(to) != size) {
        qDebug() << "client file not saved:" << from << static_cast<int>(source.error());
        return false;
    }
    *copied += size;
    return true;
}

bool ClientBackup::writeJournal() const
{
    const QJsonObject journal{{QStringLiteral("clientFolder"), m_clientFolder},
                              {QStringLiteral("backupFolder"), m_backupFolder},
                              {QStringLiteral("elevate"), m_elevate},
                              {QStringLiteral("saved"), jsonList(m_saved)},
                              {QStringLiteral("added"), jsonList(m_added)},
                              {QStringLiteral("addedFolders"), jsonList(m_addedFolders)}};
    const Outcome written = SavedFile::write(m_journalPath, QJsonDocument(journal).toJson());
    if (!written) {
        qDebug() << m_journalPath << " write failed:" << written.code();
        return false;
    }
    return true;
}

bool ClientBackup::loadJournal()
{
    const auto journal = JsonFile::read(m_journalPath);
    const QJsonObject object = journal ? journal.value() : QJsonObject();
    m_clientFolder = object.value(QStringLiteral("clientFolder")).toString();
    m_backupFolder = object.value(QStringLiteral("backupFolder")).toString();
    m_elevate = object.value(QStringLiteral("elevate")).toBool();
    m_saved = stringList(object.value(QStringLiteral("saved")));
    m_added = stringList(object.value(QStringLiteral("added")));
    m_addedFolders = stringList(object.value(QStringLiteral("addedFolders")));
    if (!journal || m_clientFolder.isEmpty() || m_backupFolder.isEmpty()) {
        qDebug() << m_journalPath << " unreadable:" << (journal ? 0 : journal.error().code);
        return false;
    }
    return true;
}

bool ClientBackup::restore()
{
    Platform& platform = Platform::current();
    removeStrayBackupFiles();
    const QStringList saved = savedInBackup();
    if (!saved.isEmpty()) {
        const Platform::CopyOutcome copy =
            platform.copyTree(CopyCommand::request(m_backupFolder, m_clientFolder, m_elevate));
        if (!copy.ran || copy.exitCode != 0)
            qDebug() << "restore copy error:" << copy.error << copy.exitCode;
    }
    keepPermissions();
    platform.removePaths(CopyCommand::removal(addedPaths(), m_elevate));
    if (!clientFolderRestored(saved))
        return false;
    qInfo() << "client folder restored:" << m_clientFolder << saved.size() << "files put back,"
            << m_added.size() << "added files removed";
    discard();
    return true;
}

void ClientBackup::keepPermissions() const
{
    for (const QString& file : savedInBackup())
        QFile::setPermissions(clientPath(file), QFile::permissions(backupPath(file)));
}

// The saved files that reached the backup. One that did not was never moved: the run ended
// before the copy, and the client's file is still the one it was.
QStringList ClientBackup::savedInBackup() const
{
    QStringList saved;
    for (const QString& file : m_saved) {
        if (Platform::pathKind(backupPath(file)) == Platform::PathKind::File)
            saved.append(file);
    }
    return saved;
}

// A copy into the backup that was cut off leaves a temporary file, which must not be copied into
// the client's folder.
void ClientBackup::removeStrayBackupFiles() const
{
    for (const QString& file : TreeComparison::filesBelow(m_backupFolder)) {
        if (!m_saved.contains(file))
            QFile::remove(backupPath(file));
    }
}

// The added files first, then the added folders, the deepest first, so each is empty in turn.
QStringList ClientBackup::addedPaths() const
{
    QStringList paths;
    for (const QString& file : m_added)
        paths.append(clientPath(file));
    QStringList folders = m_addedFolders;
    std::sort(folders.begin(), folders.end(), std::greater<QString>());
    for (const QString& folder : folders)
        paths.append(clientPath(folder));
    return paths;
}

bool ClientBackup::clientFolderRestored(const QStringList& saved) const
{
    const QString different =
        TreeComparison::firstDifference(m_backupFolder, m_clientFolder, saved);
    if (!different.isEmpty()) {
        qDebug() << "restore failed, file differs:" << clientPath(different);
        return false;
    }
    for (const QString& file : saved) {
        if (QFile::permissions(clientPath(file)) != QFile::permissions(backupPath(file))) {
            qDebug() << "restore failed, permissions differ:" << clientPath(file);
            return false;
        }
    }
    for (const QString& file : m_saved) {
        if (Platform::pathKind(clientPath(file)) != Platform::PathKind::File) {
            qDebug() << "restore failed, file missing:" << clientPath(file);
            return false;
        }
    }
    for (const QString& file : m_added) {
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

bool ClientBackup::restoreInterruptedInstall()
{
    ClientBackup backup;
    if (!QFile::exists(backup.m_journalPath))
        return true;
    qInfo() << "unfinished install found:" << backup.m_journalPath;
    if (!backup.loadJournal()) {
        // Written whole or not at all, so this is no journal of ours: it can restore nothing.
        QFile::remove(backup.m_journalPath);
        return false;
    }
    return backup.restore();
}

QString ClientBackup::clientPath(const QString& relativePath) const
{
    return m_clientFolder + QLatin1Char('/') + relativePath;
}

QString ClientBackup::backupPath(const QString& relativePath) const
{
    return m_backupFolder + QLatin1Char('/') + relativePath;
}
