#include "fakeplatform.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMutexLocker>

namespace {
void copyFolderContent(const QString& source, const QString& target)
{
    QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString to = target + from.mid(source.size());
        if (it.fileInfo().isDir()) {
            QDir().mkpath(to);
        } else {
            QFile::remove(to);
            QFile::copy(from, to);
        }
    }
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

bool FakePlatform::copyTree(const CopyRequest& request, QProcess::ProcessError* error)
{
    QMutexLocker lock(&m_mutex);
    m_copies.append(request);
    switch (m_copyBehaviour) {
    case CopyBehaviour::CopyWhenReleased:
        while (!m_copiesReleased)
            m_copyRelease.wait(&m_mutex);
        Q_FALLTHROUGH();
    case CopyBehaviour::Copy:
        copyFolderContent(request.source, request.target);
        return true;
    case CopyBehaviour::Skip:
        return true;
    case CopyBehaviour::FailToStart:
        *error = QProcess::FailedToStart;
        return false;
    }
    return false;
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
