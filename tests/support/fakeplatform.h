#ifndef FAKEPLATFORM_H
#define FAKEPLATFORM_H

#include "platform/platform.h"

#include <QHash>
#include <QMutex>
#include <QStringList>
#include <QWaitCondition>

// Stands in for the operating system while it exists: records the starts and the copies, and
// answers from a script. Safe to use from the worker thread while the test thread reads it.
class FakePlatform : public Platform
{
public:
    FakePlatform() { Platform::setCurrent(this); }
    ~FakePlatform() override { Platform::setCurrent(nullptr); }

    // Paths not set here have room to spare.
    void setFreeSpace(const QString& path, qint64 bytes);
    // The next copy waits for releaseCopies(); the copies after it (a restore) do not.
    void holdNextCopy();
    void releaseCopies();
    // The calls of one kind, in order: "start <program> <arguments...>", "copy <source> <target>".
    QStringList calls(const QString& kind) const;

    // No client is running.
    QString queryProcesses(const QString&) override { return QString(); }
    void killProcesses(const QString&) override {}
    FreeSpace freeSpace(const QString& path) override;
    QString systemVolume() const override { return QStringLiteral("C:\\"); }
    QString workingVolume() const override { return QStringLiteral("D:/"); }
    QString volumeLabel(const QString& path) const override { return path.left(1); }
    // Really copies the source folder's content over the target, as the tools would.
    CopyOutcome copyTree(const CopyRequest& request) override;
    // Removes as asked, with the test's own rights.
    void removePaths(const QStringList& paths, bool elevate) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    void makeExecutable(const QString&) override {}
    void pause(int) override {}

private:
    mutable QMutex m_mutex;
    QHash<QString, qint64> m_space;
    QStringList m_calls;
    bool m_holdNextCopy = false;
    bool m_copiesReleased = false;
    QWaitCondition m_copyRelease;
};

#endif // FAKEPLATFORM_H
