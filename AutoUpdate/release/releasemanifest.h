#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QFileDevice>
#include <QHash>
#include <QString>
#include <QVector>

#include <functional>

// Every file of a release's tree with its size, SHA-256 and Unix permission bits. A signed
// release names the SHA-256 of its manifest's JSON, which so vouches for every file; the JSON is
// therefore written in one canonical form, and read as hostile input.
class ReleaseManifest
{
public:
    struct Entry
    {
        // Relative to the tree's folder, cleaned, with "/" between its parts.
        QString path;
        qint64 size = 0;
        // Lower-case hexadecimal.
        QString sha256;
        quint32 mode = 0644;

        bool operator==(const Entry& other) const;
    };

    ReleaseManifest() = default;

    // The reason names the first entry that breaks a rule: a path that would leave the tree,
    // two paths naming one file, a file that would also be a folder, a size that is not a whole
    // number of bytes, a digest that is not lower-case hexadecimal, a mode beyond 0777.
    static Result<ReleaseManifest> fromJson(const QByteArray& json);
    // Refuses a tree holding anything but files and folders: a symbolic link in a release would
    // reach outside the client's folder. vouched hands back, for a path, an entry whose digest
    // the caller has checked the file against already, or null: such a file of that size is not
    // read again.
    using Vouched = std::function<const Entry*(const QString& path)>;
    static Result<ReleaseManifest> fromFolder(const QString& folder, const Vouched& vouched = {});
    // Sorted by path, so that one tree always gives the same bytes.
    QByteArray toJson() const;

    const QVector<Entry>& entries() const { return m_entries; }
    // The entry naming the cleaned path's file, or null.
    const Entry* find(const QString& path) const;

    static quint32 modeOf(QFileDevice::Permissions permissions);
    static QFileDevice::Permissions permissionsOf(quint32 mode);

private:
    static Result<ReleaseManifest> fromEntries(QVector<Entry> entries);

    QVector<Entry> m_entries;
    QHash<QString, int> m_index;
};
