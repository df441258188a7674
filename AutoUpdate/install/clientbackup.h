#pragma once

#include <QString>
#include <QStringList>

// Keeps the copy of a package over the client all or nothing. Before the copy, an install journal
// is written that names the client files the unpacked tree will overwrite and the files and
// folders it will add; then those client files are moved (or, where they cannot be, copied) into
// a backup folder of the updater's own. From then on, until the install is done, the journal
// names what it takes to put the client folder back. A failed install restores at once; a run that
// was killed, or a machine that stopped, during the copy leaves the journal behind for the next
// start to restore from.
class ClientBackup
{
public:
    // The backup and the journal in the current user's updater folder.
    ClientBackup();

    // Saves what copying tree over clientFolder will change and writes the journal. A journal
    // left by an earlier install is restored first, or given up when it cannot be. False, with
    // nothing to restore, when the backup or the journal could not be written: the client must
    // not be touched then.
    bool save(const QString& tree, const QString& clientFolder, bool elevate);
    // Puts the client folder back as the journal has it: the saved files are copied back the way
    // the install copied (elevated where it was), the added files and folders are removed, and
    // the result is compared with the backup. The journal and the backup are removed only when
    // the client folder holds again exactly what it held; otherwise they stay for the next try.
    bool restore();
    // After the copy: a client file that was moved into the backup was replaced by a new one,
    // which takes over its permissions, as a file the copy writes into keeps them.
    void keepPermissions() const;
    // After a successful install: the journal and the backup are no longer needed.
    void discard();

    // At start-up: restores the install that an earlier run left unfinished, if any. False when
    // there was one and it could not be restored.
    static bool restoreInterruptedInstall();

    static QString journalPath();
    static QString backupFolder();

private:
    bool loadJournal();
    bool writeJournal() const;
    bool saveFile(const QString& relativePath, qint64* moved, qint64* copied) const;
    QStringList savedInBackup() const;
    void removeStrayBackupFiles() const;
    QStringList addedPaths() const;
    bool clientFolderRestored(const QStringList& saved) const;
    QString clientPath(const QString& relativePath) const;
    QString backupPath(const QString& relativePath) const;

    QString m_journalPath;
    QString m_backupFolder;
    QString m_clientFolder;
    bool m_elevate = false;
    QStringList m_saved;
    QStringList m_added;
    QStringList m_addedFolders;
};
