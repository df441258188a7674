#ifndef ZIPBUILDER_H
#define ZIPBUILDER_H

#include <QByteArray>
#include <QList>
#include <QString>

// Writes zip archives entry by entry, names exactly as given (hostile ones included), as Unix
// entries with their type and mode in the external attributes. Every header field can be made to
// lie: change the fields of last() after adding an entry.
class ZipBuilder
{
public:
    struct Entry
    {
        QByteArray name;
        QByteArray stored;
        quint16 method = 0;
        quint16 flags = 0x0800;
        quint32 crc = 0;
        quint32 size = 0;
        quint32 compressedSize = 0;
        quint32 unixMode = 0100644;
        // Where the central directory says the local header lies; the real place when negative.
        qint64 offset = -1;
    };

    ZipBuilder& directory(const QString& name) { return file(name, {}, 0040755); }
    ZipBuilder& file(const QString& name, const QByteArray& content, quint32 unixMode = 0100644);
    ZipBuilder& deflated(const QString& name, const QByteArray& content);
    Entry& last() { return m_entries.last(); }

    bool write(const QString& path) const;

private:
    QList<Entry> m_entries;
};

#endif // ZIPBUILDER_H
