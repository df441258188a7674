#include "install/stagingfolder.h"

#include "platform/platform.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

const QFile::Permissions kFolderMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                       QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                       QFile::ExeOther;

// Removes what stands at path, a link as itself, a folder with everything below it. Qt never
// follows a link while it removes a folder.
bool removeEntry(const QString& path)
{
    if (Platform::pathKind(path) == Platform::PathKind::Folder)
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

// Nobody but the process's user may have put anything there.
bool trustedEntry(const QString& path)
{
    return Platform::pathKind(path) != Platform::PathKind::Link &&
           Platform::ownedByProcessUser(path);
}

bool trustedFolder(const QString& path)
{
    const QFile::Permissions others = QFile::WriteGroup | QFile::WriteOther;
    return Platform::pathKind(path) == Platform::PathKind::Folder && trustedEntry(path) &&
           (QFile::permissions(path) & others) == 0;
}

} // namespace

StagingFolder::StagingFolder(const QString& updaterFolder)
    : m_path(updaterFolder + QStringLiteral("/.staging"))
{}

QString StagingFolder::journalPath() const
{
    return file(QStringLiteral("install-journal.json"));
}

QString StagingFolder::backupFolder() const
{
    return file(QStringLiteral("install-backup"));
}

QString StagingFolder::lockPath() const
{
    return file(QStringLiteral("install.lock"));
}

QString StagingFolder::logPath() const
{
    return file(QStringLiteral("elevated.log"));
}

QString StagingFolder::verdictPath() const
{
    return file(QStringLiteral("verdict"));
}

QString StagingFolder::workFolder() const
{
    return file(QStringLiteral("work"));
}

Outcome StagingFolder::prepare() const
{
    if (Platform::pathKind(m_path) != Platform::PathKind::Missing && !trustedFolder(m_path) &&
        !removeEntry(m_path))
        return Outcome::failure(QStringLiteral("cannot remove the foreign ") + m_path);
    if (!QDir().mkpath(m_path) || !QFile::setPermissions(m_path, kFolderMode) ||
        !trustedFolder(m_path))
        return Outcome::failure(QStringLiteral("cannot create ") + m_path);
    // Deepest first, so that a folder is looked at after what it holds.
    QStringList below;
    QDirIterator it(m_path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        below.prepend(it.next());
    for (const QString& path : qAsConst(below)) {
        if (!trustedEntry(path) && !removeEntry(path))
            return Outcome::failure(QStringLiteral("cannot remove the foreign ") + path);
    }
    return Outcome::success();
}

void StagingFolder::clearWork() const
{
    const QStringList kept{journalPath(), backupFolder(), lockPath(), logPath()};
    for (const QString& name : QDir(m_path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                      QDir::Hidden | QDir::System)) {
        const QString path = file(name);
        if (!kept.contains(path))
            removeEntry(path);
    }
}

// Made empty and closed before anything is put in it, so that no one else can open what it will
// hold.
Outcome StagingFolder::makeWorkFolder() const
{
    const QString folder = workFolder();
    removeEntry(folder);
    if (!QDir().mkdir(folder) ||
        !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return Outcome::failure(QStringLiteral("cannot create ") + folder);
    return Outcome::success();
}

QString StagingFolder::file(const QString& name) const
{
    return m_path + QLatin1Char('/') + name;
}
