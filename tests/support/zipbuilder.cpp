#include "zipbuilder.h"

#include <QDataStream>
#include <QFile>

namespace {

constexpr quint16 kMadeByUnix = (3 << 8) | 20;
constexpr quint16 kVersionNeeded = 20;
constexpr quint16 kDeflate = 8;

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : data) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

ZipBuilder& ZipBuilder::file(const QString& name, const QByteArray& content, quint32 unixMode)
{
    Entry entry;
    entry.name = name.toUtf8();
    entry.stored = content;
    entry.crc = crc32(content);
    entry.size = entry.compressedSize = static_cast<quint32>(content.size());
    entry.unixMode = unixMode;
    m_entries.append(entry);
    return *this;
}

ZipBuilder& ZipBuilder::deflated(const QString& name, const QByteArray& content)
{
    file(name, content);
    // qCompress gives a 4-byte length, a zlib header and trailer around the raw deflate stream.
    const QByteArray zlib = qCompress(content, 9);
    last().stored = zlib.mid(6, zlib.size() - 10);
    last().method = kDeflate;
    last().compressedSize = static_cast<quint32>(last().stored.size());
    return *this;
}

bool ZipBuilder::write(const QString& path) const
{
    QByteArray bytes;
    QByteArray central;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    QDataStream dir(&central, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    dir.setByteOrder(QDataStream::LittleEndian);
    for (const Entry& entry : m_entries) {
        const qint64 offset = entry.offset >= 0 ? entry.offset : bytes.size();
        const auto nameSize = static_cast<quint16>(entry.name.size());
        out << quint32(0x04034b50) << kVersionNeeded << entry.flags << entry.method << quint16(0)
            << quint16(0x21) << entry.crc << entry.compressedSize << entry.size << nameSize
            << quint16(0);
        out.writeRawData(entry.name.constData(), nameSize);
        out.writeRawData(entry.stored.constData(), entry.stored.size());

        dir << quint32(0x02014b50) << kMadeByUnix << kVersionNeeded << entry.flags << entry.method
            << quint16(0) << quint16(0x21) << entry.crc << entry.compressedSize << entry.size
            << nameSize << quint16(0) << quint16(0) << quint16(0) << quint16(0)
            << (entry.unixMode << 16) << static_cast<quint32>(offset);
        dir.writeRawData(entry.name.constData(), nameSize);
    }
    const auto directoryOffset = static_cast<quint32>(bytes.size());
    out.writeRawData(central.constData(), central.size());
    const auto count = static_cast<quint16>(m_entries.size());
    out << quint32(0x06054b50) << quint16(0) << quint16(0) << count << count
        << static_cast<quint32>(central.size()) << directoryOffset << quint16(0);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}
