#ifndef FAKEPLATFORM_H
#define FAKEPLATFORM_H

#include "platform/platform.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <QWaitCondition>

// Stands in for the operating system while it exists: records every call and answers from a
// script. Safe to use from the worker thread while the test thread reads it.
class FakePlatform : public Platform
{
public:
    struct Start
    {
        QString program;
        QStringList arguments;
    };

    // FailHalfway copies the first half of the files, in name order, and exits with 1; EndEarly
    // copies everything but ends with the last file cut short, and reports success, as a copy
    // still running when its tool returned would. CopyWhenReleased copies once releaseCopies()
    // has been called, holding the caller till then. Every copy after the first one copies.
    enum class CopyBehaviour { Copy, Skip, FailToStart, FailHalfway, EndEarly, CopyWhenReleased };

    FakePlatform();
    ~FakePlatform() override;

    // Each process query takes the next listing; the last one keeps answering.
    void setProcessListings(const QStringList& listings);
    // Paths not set here have room to spare.
    void setFreeSpace(const QString& path, qint64 bytes);
    void setFreeSpaceError(const QString& path, qint64 errorCode);
    void setVolumes(const QString& system, const QString& working);
    // Copy really copies the source folder's content over the target, as the tools would. The
    // behaviour holds for the next copy only; the copies after it (a restore) copy.
    void setCopyBehaviour(CopyBehaviour behaviour);
    void releaseCopies();

    QStringList queries() const;
    QStringList kills() const;
    QStringList freeSpaceQueries() const;
    QList<Start> starts() const;
    QList<CopyRequest> copies() const;
    QList<int> pauses() const;
    QStringList executables() const;

    QString queryProcesses(const QString& imageName) override;
    void killProcesses(const QString& imageName) override;
    FreeSpace freeSpace(const QString& path) override;
    QString systemVolume() const override;
    QString workingVolume() const override;
    QString volumeLabel(const QString& path) const override;
    CopyOutcome copyTree(const CopyRequest& request) override;
    // Removes as asked, with the test's own rights.
    void removePaths(const QStringList& paths, bool elevate) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    void makeExecutable(const QString& path) override;
    void pause(int milliseconds) override;

private:
    mutable QMutex m_mutex;
    QStringList m_listings;
    QHash<QString, FreeSpace> m_space;
    QString m_systemVolume = QStringLiteral("C:\\");
    QString m_workingVolume = QStringLiteral("D:/");
    QStringList m_queries;
    QStringList m_kills;
    QStringList m_freeSpaceQueries;
    QList<Start> m_starts;
    QList<CopyRequest> m_copies;
    CopyBehaviour m_copyBehaviour = CopyBehaviour::Copy;
    bool m_copiesReleased = false;
    QWaitCondition m_copyRelease;
    QList<int> m_pauses;
    QStringList m_executables;
};

#endif // FAKEPLATFORM_H
