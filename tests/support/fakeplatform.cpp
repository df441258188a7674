#include "fakeplatform.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>

#include <utility>

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
void copyFiles(const QString& source, const QString& target, const QStringList& files)
{
    for (const QString& name : files) {
        QDir().mkpath(QFileInfo(target + name).absolutePath());
        QFile from(source + name);
        QFile to(target + name);
        if (from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly | QIODevice::Truncate))
            to.write(from.readAll());
        to.setPermissions(from.permissions());
    }
}
} // namespace

void FakePlatform::setFreeSpace(const QString& path, qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_space.insert(path, bytes);
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

QStringList FakePlatform::calls(const QString& kind) const
{
    QMutexLocker lock(&m_mutex);
    return kind.isEmpty() ? m_calls : m_calls.filter(QRegularExpression('^' + kind + "( |$)"));
}

void FakePlatform::record(const QString& kind, const QStringList& details)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append((QStringList{kind} + details).join(QLatin1Char(' ')));
}

void FakePlatform::killProcesses(const QString& imageName)
{
    record(QStringLiteral("kill"), {imageName});
}

Platform::FreeSpace FakePlatform::freeSpace(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    return {true, m_space.value(path, qint64(1) << 40), 0};
}

Platform::CopyOutcome FakePlatform::copyTree(const CopyRequest& request)
{
    record(QStringLiteral("copy"), {request.source, request.target});
    QMutexLocker lock(&m_mutex);
    const CopyBehaviour behaviour = std::exchange(m_copyBehaviour, CopyBehaviour::Copy);
    while (behaviour == CopyBehaviour::CopyWhenReleased && !m_copiesReleased)
        m_copyRelease.wait(&m_mutex);
    QStringList files = filesIn(request.source);
    const bool fail = behaviour == CopyBehaviour::FailHalfway;
    copyFiles(request.source, request.target, fail ? files.mid(0, files.size() / 2) : files);
    return {true, QProcess::UnknownError, fail ? 1 : 0};
}

void FakePlatform::removePaths(const QStringList& paths, bool)
{
    for (const QString& path : paths)
        QFileInfo(path).isDir() ? QDir().rmdir(path) : QFile::remove(path);
}

bool FakePlatform::startDetached(const QString& program, const QStringList& arguments)
{
    record(QStringLiteral("start"), QStringList{program} + arguments);
    return true;
}

void FakePlatform::makeExecutable(const QString& path)
{
    record(QStringLiteral("executable"), {path});
}
