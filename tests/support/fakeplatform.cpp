#include "fakeplatform.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

namespace {
QStringList filesIn(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next().mid(folder.size()));
    files.sort();
    return files;
}

// Byte by byte, as a copy tool does: QFile::copy() would follow a file named like a Windows
// shortcut to its target.
void copyFile(const QString& from, const QString& to)
{
    QFile source(from);
    QFile target(to);
    if (source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        target.write(source.readAll());
#ifdef Q_OS_UNIX
    target.setPermissions(source.permissions());
#endif
}

void copyFiles(const QString& source, const QString& target, const QStringList& files)
{
    for (const QString& file : files) {
        QDir().mkpath(QFileInfo(target + file).absolutePath());
        QFile::remove(target + file);
        copyFile(source + file, target + file);
    }
}

void cutToHalf(const QString& path)
{
    QFile file(path);
    file.resize(file.size() / 2);
}
} // namespace

FakePlatform::FakePlatform()
{
    Platform::setCurrent(this);
}

FakePlatform::~FakePlatform()
{
    Platform::setCurrent(nullptr);
}

void FakePlatform::setProcessListings(const QStringList& listings)
{
    QMutexLocker lock(&m_mutex);
    m_listings = listings;
}

void FakePlatform::setFreeSpace(const QString& path, qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_space.insert(path, {true, bytes, 0});
}

void FakePlatform::setFreeSpaceError(const QString& path, qint64 errorCode)
{
    QMutexLocker lock(&m_mutex);
    m_space.insert(path, {false, 0, errorCode});
}

void FakePlatform::setVolumes(const QString& system, const QString& working)
{
    QMutexLocker lock(&m_mutex);
    m_systemVolume = system;
    m_workingVolume = working;
}

QStringList FakePlatform::queries() const
{
    QMutexLocker lock(&m_mutex);
    return m_queries;
}

QStringList FakePlatform::kills() const
{
    QMutexLocker lock(&m_mutex);
    return m_kills;
}

QStringList FakePlatform::freeSpaceQueries() const
{
    QMutexLocker lock(&m_mutex);
    return m_freeSpaceQueries;
}

void FakePlatform::setCopyBehaviour(CopyBehaviour behaviour)
{
    QMutexLocker lock(&m_mutex);
    m_copyBehaviour = behaviour;
}

void FakePlatform::releaseCopies()
{
    QMutexLocker lock(&m_mutex);
    m_copiesReleased = true;
    m_copyRelease.wakeAll();
}

QList<Platform::CopyRequest> FakePlatform::copies() const
{
    QMutexLocker lock(&m_mutex);
    return m_copies;
}

Platform::CopyOutcome FakePlatform::copyTree(const CopyRequest& request)
{
    QMutexLocker lock(&m_mutex);
    m_copies.append(request);
    const CopyBehaviour behaviour = m_copyBehaviour;
    m_copyBehaviour = CopyBehaviour::Copy;
    const QStringList files = filesIn(request.source);
    switch (behaviour) {
    case CopyBehaviour::CopyWhenReleased:
        while (!m_copiesReleased)
            m_copyRelease.wait(&m_mutex);
        Q_FALLTHROUGH();
    case CopyBehaviour::Copy:
        copyFiles(request.source, request.target, files);
        return {true, QProcess::UnknownError, 0};
    case CopyBehaviour::Skip:
        return {true, QProcess::UnknownError, 0};
    case CopyBehaviour::FailToStart:
        return {false, QProcess::FailedToStart, 0};
    case CopyBehaviour::FailHalfway:
        copyFiles(request.source, request.target, files.mid(0, files.size() / 2));
        return {true, QProcess::UnknownError, 1};
    case CopyBehaviour::EndEarly:
        copyFiles(request.source, request.target, files);
        if (!files.isEmpty())
            cutToHalf(request.target + files.last());
        return {true, QProcess::UnknownError, 0};
    }
    return {};
}

void FakePlatform::removePaths(const QStringList& paths, bool)
{
    QMutexLocker lock(&m_mutex);
    for (const QString& path : paths) {
        if (QFileInfo(path).isDir())
            QDir().rmdir(path);
        else
            QFile::remove(path);
    }
}

QList<FakePlatform::Start> FakePlatform::starts() const
{
    QMutexLocker lock(&m_mutex);
    return m_starts;
}

QList<int> FakePlatform::pauses() const
{
    QMutexLocker lock(&m_mutex);
    return m_pauses;
}

QStringList FakePlatform::executables() const
{
    QMutexLocker lock(&m_mutex);
    return m_executables;
}

QString FakePlatform::queryProcesses(const QString& imageName)
{
    QMutexLocker lock(&m_mutex);
    m_queries.append(imageName);
    return m_listings.size() > 1 ? m_listings.takeFirst() : m_listings.value(0);
}

void FakePlatform::killProcesses(const QString& imageName)
{
    QMutexLocker lock(&m_mutex);
    m_kills.append(imageName);
}

Platform::FreeSpace FakePlatform::freeSpace(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    m_freeSpaceQueries.append(path);
    constexpr qint64 kRoomToSpare = 1LL << 40;
    return m_space.value(path, {true, kRoomToSpare, 0});
}

QString FakePlatform::systemVolume() const
{
    QMutexLocker lock(&m_mutex);
    return m_systemVolume;
}

QString FakePlatform::workingVolume() const
{
    QMutexLocker lock(&m_mutex);
    return m_workingVolume;
}

QString FakePlatform::volumeLabel(const QString& path) const
{
    return path.left(1);
}

bool FakePlatform::startDetached(const QString& program, const QStringList& arguments)
{
    QMutexLocker lock(&m_mutex);
    m_starts.append({program, arguments});
    return true;
}

void FakePlatform::makeExecutable(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    m_executables.append(path);
}

void FakePlatform::pause(int milliseconds)
{
    QMutexLocker lock(&m_mutex);
    m_pauses.append(milliseconds);
}
