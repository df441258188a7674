#pragma once

#include "base/result.h"

#include <QString>

// The elevated install's own folder, ".staging" in the updater's folder beside the client: the
// package it installs, the unpacked tree, the journal and backup, its lock, log, heartbeat and
// verdict all lie there. Only the elevated side writes there; the user's side may look.
class StagingFolder
{
public:
    explicit StagingFolder(const QString& updaterFolder);

    QString path() const { return m_path; }
    QString journalPath() const;
    QString backupFolder() const;
    QString lockPath() const;
    QString logPath() const;
    // "<tag> <exit code>" of the last install or restore; its heartbeat beside it.
    QString verdictPath() const;
    // Where the package is copied and unpacked: readable by the elevated side's user alone, as
    // the package is copied from whatever file the user names before its digests are checked.
    QString workFolder() const;

    // Makes the folder the elevated side's own before anything in it is read or written: a link
    // or file in its place, or a folder that another user owns or may write to, is removed; so is
    // every link or foreign entry below it. The folder is then created, readable for all.
    Outcome prepare() const;
    // Removes everything an earlier install left, but the lock and what a restore still needs
    // (the journal and the backup).
    void clearWork() const;
    // A new, empty work folder.
    Outcome makeWorkFolder() const;

private:
    QString file(const QString& name) const;

    QString m_path;
};
