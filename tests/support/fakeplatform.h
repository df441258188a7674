#pragma once

#include "clientfiles.h"
#include "platform/platform.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStringList>
#include <QWaitCondition>

#include <atomic>
#include <utility>

// Stands in for the operating system while it exists: records the starts and the copies, and
// answers from a script. Safe to use from the worker thread while the test thread reads it.
class FakePlatform : public Platform
{
public:
    FakePlatform() { Platform::setCurrent(this); }
    ~FakePlatform() override { Platform::setCurrent(nullptr); }

    // Every volume has this much room; until set, room to spare.
    void setFreeSpace(qint64 bytes) { m_freeSpace = bytes; }
    // The next copy waits for releaseCopies(); the copies after it (a restore) do not.
    void holdNextCopy()
    {
        QMutexLocker lock(&m_mutex);
        m_holdNextCopy = true;
    }
    void releaseCopies()
    {
        QMutexLocker lock(&m_mutex);
        m_copiesReleased = true;
        m_copyRelease.wakeAll();
    }
    // The copy of this number, counting from 1, fails without copying anything.
    void failCopy(int number)
    {
        QMutexLocker lock(&m_mutex);
        m_failingCopy = number;
    }
    // The calls of one kind, in order: "start <program> <arguments...>", "copy <source> <target>",
    // "remove <paths...>". A regular expression as kind gives several kinds in order.
    QStringList calls(const QString& kind) const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls.filter(QRegularExpression('^' + kind + ' '));
    }

    // No client is running.
    QString queryProcesses(const QString&) override { return QString(); }
    void killProcesses(const QString&) override {}
    Result<qint64, Failure> freeSpace(const QString&) override { return m_freeSpace.load(); }
    QString systemVolume() const override { return QStringLiteral("C:\\"); }
    QString workingVolume() const override { return QStringLiteral("D:/"); }
    QString volumeLabel(const QString& path) const override { return path.left(1); }
    // Really copies the source folder's content over the target, as the tools would.
    ToolRun copyTree(const CopyRequest& request) override
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(QStringList{"copy", request.source, request.target}.join(' '));
        const bool held = std::exchange(m_holdNextCopy, false);
        while (held && !m_copiesReleased)
            m_copyRelease.wait(&m_mutex);
        if (++m_copies == m_failingCopy)
            return 1;
        QDirIterator it(request.source, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString target = request.target + it.next().mid(request.source.size());
            ClientFiles::write(target, ClientFiles::read(it.filePath()));
            QFile::setPermissions(target, it.fileInfo().permissions());
        }
        return 0;
    }
    // Removes as asked, with the test's own rights.
    void removePaths(const RemovalRequest& request) override
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append((QStringList{"remove"} + request.paths).join(' '));
        for (const QString& path : request.paths)
            QFileInfo(path).isDir() ? QDir().rmdir(path) : QFile::remove(path);
    }
    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append((QStringList{"start", program} + arguments).join(' '));
        return true;
    }
    ToolRun runElevated(const QString& program, const QStringList& arguments) override
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append((QStringList{"elevated", program} + arguments).join(' '));
        return 1;
    }
    void makeExecutable(const QString&) override {}
    void pause(int) override {}

private:
    mutable QMutex m_mutex;
    std::atomic<qint64> m_freeSpace{qint64(1) << 40};
    QStringList m_calls;
    bool m_holdNextCopy = false;
    int m_copies = 0;
    int m_failingCopy = 0;
    bool m_copiesReleased = false;
    QWaitCondition m_copyRelease;
};
