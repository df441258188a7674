#include "zipbuilder.h"

#include <QDataStream>
#include <QFile>

namespace {

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

ZipBuilder& ZipBuilder::directory(const QString& name)
{
    m_entries.append({name.toUtf8(), QByteArray(), Type::Directory});
    return *this;
}

ZipBuilder& ZipBuilder::file(const QString& name, const QByteArray& content)
{
    m_entries.append({name.toUtf8(), content, Type::File});
    return *this;
}

ZipBuilder& ZipBuilder::symLink(const QString& name, const QString& target)
{
    m_entries.append({name.toUtf8(), target.toUtf8(), Type::SymLink});
    return *this;
}

bool ZipBuilder::write(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    QByteArray central;
    QDataStream dir(&central, QIODevice::WriteOnly);
    dir.setByteOrder(QDataStream::LittleEndian);
    constexpr quint16 kUtf8Names = 0x0800;
    constexpr quint16 kMadeByUnix = (3 << 8) | 20;

    for (const Entry& entry : m_entries) {
        const auto offset = static_cast<quint32>(file.pos());
        const quint32 crc = crc32(entry.content);
        const auto size = static_cast<quint32>(entry.content.size());
        const auto nameSize = static_cast<quint16>(entry.name.size());
        out << quint32(0x04034b50) << quint16(20) << kUtf8Names << quint16(0) << quint16(0)
            << quint16(0x21) << crc << size << size << nameSize << quint16(0);
        out.writeRawData(entry.name.constData(), entry.name.size());
        out.writeRawData(entry.content.constData(), entry.content.size());

        dir << quint32(0x02014b50) << kMadeByUnix << quint16(20) << kUtf8Names << quint16(0)
            << quint16(0) << quint16(0x21) << crc << size << size << nameSize << quint16(0)
            << quint16(0) << quint16(0) << quint16(0) << (static_cast<quint32>(entry.type) << 16)
            << offset;
        dir.writeRawData(entry.name.constData(), entry.name.size());
    }
    const auto centralOffset = static_cast<quint32>(file.pos());
    out.writeRawData(central.constData(), central.size());
    const auto count = static_cast<quint16>(m_entries.size());
    out << quint32(0x06054b50) << quint16(0) << quint16(0) << count << count
        << static_cast<quint32>(central.size()) << centralOffset << quint16(0);
    return out.status() == QDataStream::Ok;
}
