#ifndef ZIPBUILDER_H
#define ZIPBUILDER_H

#include <QByteArray>
#include <QList>
#include <QString>

// Writes zip archives entry by entry, names exactly as given (hostile ones included), as Unix
// entries with their type and mode in the external attributes. Every header field can be made to
// lie: change the fields of last() after adding an entry, or the archive's own below.
class ZipBuilder
{
public:
    struct Entry
    {
        QByteArray name;
        // The name in the local header; the central directory's name when empty.
        QByteArray localName;
        QByteArray stored;
        quint16 method = 0;
        quint16 flags = 0x0800;
        quint16 versionNeeded = 20;
        quint32 crc = 0;
        quint32 size = 0;
        quint32 compressedSize = 0;
        quint32 unixMode = 0100644;
        // Where the central directory says the local header lies; the real place when negative.
        qint64 offset = -1;
    };

    ZipBuilder& directory(const QString& name);
    ZipBuilder& file(const QString& name, const QByteArray& content, quint32 unixMode = 0100644);
    ZipBuilder& deflated(const QString& name, const QByteArray& content);
    ZipBuilder& symLink(const QString& name, const QString& target);
    Entry& last() { return m_entries.last(); }
    int count() const { return m_entries.size(); }

    // What the end record says of the central directory, in place of the truth.
    ZipBuilder& declareCount(qint64 count);
    ZipBuilder& declareDirectorySize(qint64 size);
    // Cuts bytes off the end of the written archive.
    ZipBuilder& truncateBy(int bytes);

    bool write(const QString& path) const;

private:
    QByteArray archive() const;

    QList<Entry> m_entries;
    qint64 m_declaredCount = -1;
    qint64 m_declaredDirectorySize = -1;
    int m_truncatedBy = 0;
};

#endif // ZIPBUILDER_H
