#ifndef FAKEPLATFORM_H
#define FAKEPLATFORM_H

#include "platform/platform.h"

#include <QHash>
#include <QMutex>
#include <QStringList>
#include <QWaitCondition>

// Stands in for the operating system while it exists: records every call and answers from a
// script. Safe to use from the worker thread while the test thread reads it.
class FakePlatform : public Platform
{
public:
    // A copy really copies the source folder's content over the target, as the tools would.
    // FailHalfway copies the first half of the files, in name order, and exits with 1;
    // CopyWhenReleased holds the caller until releaseCopies(). The behaviour holds for the next
    // copy only: the copies after it (a restore) copy.
    enum class CopyBehaviour { Copy, FailHalfway, CopyWhenReleased };

    FakePlatform() { Platform::setCurrent(this); }
    ~FakePlatform() override { Platform::setCurrent(nullptr); }

    // Paths not set here have room to spare.
    void setFreeSpace(const QString& path, qint64 bytes);
    void setCopyBehaviour(CopyBehaviour behaviour);
    void releaseCopies();
    // The calls that change something, in order: "start <program> <arguments...>",
    // "copy <source> <target>", "kill <name>" and "executable <path>".
    QStringList calls(const QString& kind = QString()) const;

    // No client is running.
    QString queryProcesses(const QString&) override { return QString(); }
    void killProcesses(const QString& imageName) override;
    FreeSpace freeSpace(const QString& path) override;
    QString systemVolume() const override { return QStringLiteral("C:\\"); }
    QString workingVolume() const override { return QStringLiteral("D:/"); }
    QString volumeLabel(const QString& path) const override { return path.left(1); }
    CopyOutcome copyTree(const CopyRequest& request) override;
    // Removes as asked, with the test's own rights.
    void removePaths(const QStringList& paths, bool elevate) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    void makeExecutable(const QString& path) override;
    void pause(int) override {}

private:
    void record(const QString& kind, const QStringList& details);

    mutable QMutex m_mutex;
    QHash<QString, qint64> m_space;
    QStringList m_calls;
    CopyBehaviour m_copyBehaviour = CopyBehaviour::Copy;
    bool m_copiesReleased = false;
    QWaitCondition m_copyRelease;
};

#endif // FAKEPLATFORM_H
