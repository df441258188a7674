#include "fakeplatform.h"

#include "clientfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <utility>

void FakePlatform::setFreeSpace(const QString& path, qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_space.insert(path, bytes);
}

void FakePlatform::holdNextCopy()
{
    QMutexLocker lock(&m_mutex);
    m_holdNextCopy = true;
}

void FakePlatform::releaseCopies()
{
    QMutexLocker lock(&m_mutex);
    m_copiesReleased = true;
    m_copyRelease.wakeAll();
}

QStringList FakePlatform::calls(const QString& kind) const
{
    QMutexLocker lock(&m_mutex);
    QStringList calls;
    for (const QString& call : m_calls) {
        if (call.startsWith(kind + QLatin1Char(' ')))
            calls.append(call);
    }
    return calls;
}

Platform::FreeSpace FakePlatform::freeSpace(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    return {true, m_space.value(path, qint64(1) << 40), 0};
}

Platform::CopyOutcome FakePlatform::copyTree(const CopyRequest& request)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append(QStringList{"copy", request.source, request.target}.join(QLatin1Char(' ')));
    const bool held = std::exchange(m_holdNextCopy, false);
    while (held && !m_copiesReleased)
        m_copyRelease.wait(&m_mutex);
    // Byte by byte, as a copy tool does: QFile::copy() would follow a file named like a Windows
    // shortcut to its target.
    QDirIterator it(request.source, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString target = request.target + it.next().mid(request.source.size());
        ClientFiles::write(target, ClientFiles::read(it.filePath()));
        QFile::setPermissions(target, it.fileInfo().permissions());
    }
    return {true, QProcess::UnknownError, 0};
}

void FakePlatform::removePaths(const QStringList& paths, bool)
{
    for (const QString& path : paths)
        QFileInfo(path).isDir() ? QDir().rmdir(path) : QFile::remove(path);
}

bool FakePlatform::startDetached(const QString& program, const QStringList& arguments)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append((QStringList{"start", program} + arguments).join(QLatin1Char(' ')));
    return true;
}
