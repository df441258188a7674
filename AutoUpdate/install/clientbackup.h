#pragma once

#include "install/installjournal.h"

#include <QString>
#include <QStringList>

// Keeps the copy of a package over the client all or nothing. Before the copy, an install journal
// is written that names the client files the unpacked tree will overwrite and the files and
// folders it will add; then those client files are moved (or, where they cannot be, copied) into
// a backup folder of the updater's own. From then on, until the install is done, the journal
// names what it takes to put the client folder back. A failed install restores at once; a run that
// was killed, or a machine that stopped, during the copy leaves the journal behind for the next
// start to restore from. What the journal says is checked first (see InstallJournal): one that
// fails is set aside, never acted on.
class ClientBackup
{
public:
    // How the restore writes the client folder: through the system layer's copy and removal
    // (elevated where the install was), or in this process, which already holds the rights it
    // needs and so hands no list of paths and waits for no verdict in a folder of the user's.
    enum class Writer { Platform, ThisProcess };

    // The backup and the journal in the current user's updater folder.
    ClientBackup();
    // The journal at journalPath, for installs at place (its backup folder included).
    ClientBackup(const QString& journalPath, const InstallJournal::Place& place, Writer writer);

    // Saves what copying tree over clientFolder will change and writes the journal. A journal
    // left by an earlier install is restored first, or given up when it cannot be. False, with
    // nothing to restore, when the backup or the journal could not be written: the client must
    // not be touched then.
    // The dropped files, relative to clientFolder, are saved too, though the tree has none of
    // them: the install removes them.
    bool save(const QString& tree, const QString& clientFolder, bool elevate,
              const QStringList& dropped = {});
    // Puts the client folder back as the journal has it: the added files and folders are removed
    // (so that a full volume has room again), the saved files are copied back by the writer
    // (elevated where the install was), and the result is compared with the backup. The journal and
    // the backup are removed only when the client folder holds again exactly what it held;
    // otherwise they stay for the next try.
    bool restore();
    // After the copy: a client file that was moved into the backup was replaced by a new one,
    // which takes over its permissions, as a file the copy writes into keeps them.
    void keepPermissions() const;
    // After a successful install: the journal and the backup are no longer needed.
    void discard();

    // Restores the install that an earlier run left unfinished in this backup's place, if any,
    // and sets a journal that fails its checks aside. False when a journal stays in place: one
    // that could not be restored, or a rejected one that could not be set aside.
    bool restoreInterrupted();
    // At start-up: the same for the current user's journal.
    static bool restoreInterruptedInstall();

    static QString journalPath();
    static QString backupFolder();
    // Where an install by the updater in its working folder acts: all a journal may repeat.
    static InstallJournal::Place currentPlace();

private:
    // What became of a journal that an earlier run left in place.
    enum class Leftover { None, Unrestored, Rejected };
    Leftover restoreLeftover();
    bool setAside(const QString& reason) const;

    bool writeJournal() const;
    bool saveFile(const QString& relativePath, qint64* moved, qint64* copied) const;
    QStringList savedInBackup() const;
    void removeStrayBackupFiles() const;
    void putBackThroughPlatform(const QStringList& saved) const;
    void putBackInProcess(const QStringList& saved) const;
    QStringList addedPaths() const;
    bool clientFolderRestored(const QStringList& saved) const;
    QString clientPath(const QString& relativePath) const;
    QString backupPath(const QString& relativePath) const;

    QString m_journalPath;
    QString m_backupFolder;
    InstallJournal::Place m_place;
    InstallJournal m_journal;
    Writer m_writer;
};
