#include "zipbuilder.h"

#include <QDataStream>
#include <QFile>

namespace {

constexpr quint16 kMadeByUnix = (3 << 8) | 45;
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

// qCompress gives a 4-byte length, a zlib header and trailer around the raw deflate stream.
QByteArray rawDeflate(const QByteArray& content)
{
    const QByteArray zlib = qCompress(content, 9);
    return zlib.mid(6, zlib.size() - 10);
}

ZipBuilder::Entry makeEntry(const QString& name, const QByteArray& content, quint32 unixMode)
{
    ZipBuilder::Entry entry;
    entry.name = name.toUtf8();
    entry.stored = content;
    entry.crc = crc32(content);
    entry.size = entry.compressedSize = static_cast<quint32>(content.size());
    entry.unixMode = unixMode;
    return entry;
}

QDataStream& littleEndian(QDataStream& stream)
{
    stream.setByteOrder(QDataStream::LittleEndian);
    return stream;
}

} // namespace

ZipBuilder& ZipBuilder::directory(const QString& name)
{
    m_entries.append(makeEntry(name, {}, 0040755));
    return *this;
}

ZipBuilder& ZipBuilder::file(const QString& name, const QByteArray& content, quint32 unixMode)
{
    m_entries.append(makeEntry(name, content, unixMode));
    return *this;
}

ZipBuilder& ZipBuilder::deflated(const QString& name, const QByteArray& content)
{
    Entry entry = makeEntry(name, content, 0100644);
    entry.method = kDeflate;
    entry.stored = rawDeflate(content);
    entry.compressedSize = static_cast<quint32>(entry.stored.size());
    m_entries.append(entry);
    return *this;
}

ZipBuilder& ZipBuilder::symLink(const QString& name, const QString& target)
{
    m_entries.append(makeEntry(name, target.toUtf8(), 0120777));
    return *this;
}

ZipBuilder& ZipBuilder::declareCount(qint64 count)
{
    m_declaredCount = count;
    return *this;
}

ZipBuilder& ZipBuilder::declareDirectorySize(qint64 size)
{
    m_declaredDirectorySize = size;
    return *this;
}

ZipBuilder& ZipBuilder::truncateBy(int bytes)
{
    m_truncatedBy = bytes;
    return *this;
}

bool ZipBuilder::write(const QString& path) const
{
    QFile file(path);
    const QByteArray bytes = archive();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

QByteArray ZipBuilder::archive() const
{
    QByteArray bytes;
    QByteArray central;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    QDataStream dir(&central, QIODevice::WriteOnly);
    littleEndian(out);
    littleEndian(dir);
    for (const Entry& entry : m_entries) {
        const qint64 offset = entry.offset >= 0 ? entry.offset : bytes.size();
        const QByteArray localName = entry.localName.isEmpty() ? entry.name : entry.localName;
        out << quint32(0x04034b50) << entry.versionNeeded << entry.flags << entry.method
            << quint16(0) << quint16(0x21) << entry.crc << entry.compressedSize << entry.size
            << static_cast<quint16>(localName.size()) << quint16(0);
        out.writeRawData(localName.constData(), localName.size());
        out.writeRawData(entry.stored.constData(), entry.stored.size());

        dir << quint32(0x02014b50) << kMadeByUnix << entry.versionNeeded << entry.flags
            << entry.method << quint16(0) << quint16(0x21) << entry.crc << entry.compressedSize
            << entry.size << static_cast<quint16>(entry.name.size()) << quint16(0) << quint16(0)
            << quint16(0) << quint16(0) << (entry.unixMode << 16) << static_cast<quint32>(offset);
        dir.writeRawData(entry.name.constData(), entry.name.size());
    }
    const auto directoryOffset = static_cast<quint64>(bytes.size());
    out.writeRawData(central.constData(), central.size());
    const auto count =
        static_cast<quint64>(m_declaredCount >= 0 ? m_declaredCount : m_entries.size());
    const auto directorySize = static_cast<quint64>(
        m_declaredDirectorySize >= 0 ? m_declaredDirectorySize : central.size());
    // More entries than the end record can count need the zip64 end record and its locator.
    if (count > 0xffff) {
        const auto zip64EndOffset = static_cast<quint64>(bytes.size());
        out << quint32(0x06064b50) << quint64(44) << kMadeByUnix << quint16(45) << quint32(0)
            << quint32(0) << count << count << directorySize << directoryOffset;
        out << quint32(0x07064b50) << quint32(0) << zip64EndOffset << quint32(1);
    }
    const auto count16 = static_cast<quint16>(qMin<quint64>(count, 0xffff));
    out << quint32(0x06054b50) << quint16(0) << quint16(0) << count16 << count16
        << static_cast<quint32>(directorySize) << static_cast<quint32>(directoryOffset)
        << quint16(0);
    bytes.chop(m_truncatedBy);
    return bytes;
}
