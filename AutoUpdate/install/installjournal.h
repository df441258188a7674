#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// What a zip install is about to change in the client's folder, written before the first client
// file is touched: the relative paths of the client files it saves into the backup, and of the
// files and folders its copy adds. A later start reads it back to undo an install that was cut
// off. Anyone who can write to the user's profile can write a journal too, while the restore it
// leads to may run with elevated rights; so a journal is never taken at its word. The folders
// acted on and the need for elevation are the updater's own, which a journal must merely repeat,
// and each path it names must stay inside the client's folder.
class InstallJournal
{
public:
    // Bounds on a journal file, refused before it is parsed or walked. An install of the largest
    // package the unpacker accepts stays well below both.
    static constexpr qint64 kMaxBytes = 8 << 20;
    static constexpr int kMaxPaths = 1000000;

    // Where an install acts, as the updater itself decides it.
    struct Place
    {
        QString clientFolder;
        QString backupFolder;
        bool elevate = false;
    };

    InstallJournal() = default;
    InstallJournal(Place place, QStringList saved, QStringList added, QStringList addedFolders);

    // A journal as written by toBytes(), refused with the reason when it exceeds the bounds, is
    // not one, names another place than expected or a path that could leave the client folder.
    static Result<InstallJournal> fromBytes(const QByteArray& bytes, const Place& expected);
    // The same from a file, which is never read past the size bound.
    static Result<InstallJournal> fromFile(const QString& path, const Place& expected);
    // Refused when the journal would exceed the bounds, as fromBytes() would refuse it.
    Result<QByteArray> toBytes() const;

    const Place& place() const { return m_place; }
    // Client files moved or copied into the backup, under the same relative paths.
    const QStringList& saved() const { return m_saved; }
    const QStringList& added() const { return m_added; }
    const QStringList& addedFolders() const { return m_addedFolders; }

private:
    Place m_place;
    QStringList m_saved;
    QStringList m_added;
    QStringList m_addedFolders;
};
