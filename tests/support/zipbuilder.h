#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QList>
#include <QString>

#include <optional>

#include <zlib.h>

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
        quint32 unixMode = 0100644;
        // Where the central directory says the local header lies; the real place when negative.
        qint64 offset = -1;
        // What the local header alone says, where it is to differ from the central directory.
        std::optional<quint16> localFlags;
        std::optional<quint16> localMethod;
        std::optional<quint32> localSize;
        std::optional<quint32> localStoredSize;
    };

    ZipBuilder& directory(const QString& name) { return file(name, {}, 0040755); }
    ZipBuilder& file(const QString& name, const QByteArray& content, quint32 unixMode = 0100644)
    {
        const auto size = static_cast<quint32>(content.size());
        const auto* data = reinterpret_cast<const Bytef*>(content.constData());
        Entry entry;
        entry.name = name.toUtf8();
        entry.stored = content;
        entry.crc = static_cast<quint32>(crc32(0, data, size));
        entry.size = size;
        entry.unixMode = unixMode;
        m_entries.append(entry);
        return *this;
    }
    ZipBuilder& deflated(const QString& name, const QByteArray& content)
    {
        file(name, content);
        // qCompress gives a 4-byte length, a zlib header and trailer around the raw deflate stream.
        const QByteArray zlib = qCompress(content, 9);
        last().stored = zlib.mid(6, zlib.size() - 10);
        last().method = 8;
        return *this;
    }
    Entry& last() { return m_entries.last(); }

    bool write(const QString& path) const
    {
        const QByteArray archive = bytes();
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(archive) == archive.size() && file.flush();
    }

    QByteArray bytes() const
    {
        constexpr quint16 kMadeByUnix = (3 << 8) | 20;
        constexpr quint16 kVersionNeeded = 20;
        QByteArray archive;
        QByteArray central;
        QDataStream out(&archive, QIODevice::WriteOnly);
        QDataStream dir(&central, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        dir.setByteOrder(QDataStream::LittleEndian);
        for (const Entry& entry : m_entries) {
            const qint64 offset = entry.offset >= 0 ? entry.offset : archive.size();
            const auto nameSize = static_cast<quint16>(entry.name.size());
            const auto storedSize = static_cast<quint32>(entry.stored.size());
            out << quint32(0x04034b50) << kVersionNeeded << entry.localFlags.value_or(entry.flags)
                << entry.localMethod.value_or(entry.method) << quint16(0) << quint16(0x21)
                << entry.crc << entry.localStoredSize.value_or(storedSize)
                << entry.localSize.value_or(entry.size) << nameSize << quint16(0);
            out.writeRawData(entry.name.constData(), nameSize);
            out.writeRawData(entry.stored.constData(), entry.stored.size());
            dir << quint32(0x02014b50) << kMadeByUnix << kVersionNeeded << entry.flags
                << entry.method << quint16(0) << quint16(0x21) << entry.crc << storedSize
                << entry.size << nameSize << quint16(0) << quint16(0) << quint16(0) << quint16(0)
                << (entry.unixMode << 16) << static_cast<quint32>(offset);
            dir.writeRawData(entry.name.constData(), nameSize);
        }
        const auto directoryOffset = static_cast<quint32>(archive.size());
        out.writeRawData(central.constData(), central.size());
        const auto count = static_cast<quint16>(m_entries.size());
        out << quint32(0x06054b50) << quint16(0) << quint16(0) << count << count
            << static_cast<quint32>(central.size()) << directoryOffset << quint16(0);
        return archive;
    }

private:
    QList<Entry> m_entries;
};
