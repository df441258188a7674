#include "install/zipheaders.h"

#include <QIODevice>
#include <QtEndian>

#include <initializer_list>
#include <utility>

namespace {

constexpr quint32 kLocalSignature = 0x04034b50;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr quint32 kEndSignature = 0x06054b50;
constexpr quint32 kZip64EndSignature = 0x06064b50;
constexpr quint32 kZip64LocatorSignature = 0x07064b50;
constexpr qint64 kLocalSize = 30;
constexpr qint64 kCentralSize = 46;
constexpr qint64 kEndSize = 22;
constexpr qint64 kZip64LocatorSize = 20;
constexpr qint64 kZip64EndSize = 56;
constexpr qint64 kMaxCommentSize = 0xffff;
constexpr quint16 kZip64ExtraId = 0x0001;
constexpr quint64 kZip64Marker = 0xffffffff;
constexpr quint16 kDataDescriptorFlag = 0x0008;

using Check = Result<quint64, ZipHeaders::Fault>;

Check archiveFault(const QString& reason)
{
    return Check::failure({std::nullopt, reason});
}

Check entryFault(const QByteArray& name, const QString& reason)
{
    return Check::failure({name, reason});
}

// Callers have made sure that the bytes are there.
quint64 little(const QByteArray& bytes, qint64 at, int size)
{
    const char* data = bytes.constData() + at;
    switch (size) {
    case 2:
        return qFromLittleEndian<quint16>(data);
    case 4:
        return qFromLittleEndian<quint32>(data);
    default:
        return qFromLittleEndian<quint64>(data);
    }
}

// Exactly size bytes from offset, or none.
std::optional<QByteArray> readAt(QIODevice& file, quint64 offset, qint64 size)
{
    if (offset > quint64(file.size()) || !file.seek(qint64(offset)))
        return std::nullopt;
    QByteArray bytes = file.read(size);
    return bytes.size() == size ? std::optional<QByteArray>(std::move(bytes)) : std::nullopt;
}

// What the central record and the local header of an entry each declare.
struct Header
{
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 size = 0;
    quint64 localOffset = 0;
};

// Replaces each field that holds the zip64 marker by its 64-bit value from the zip64 extra field,
// whose 8-byte slots come in the order of fields; a field without a slot is skipped. False when a
// slot that is needed is missing.
bool widen(const QByteArray& extra, std::initializer_list<std::pair<quint64*, bool>> fields)
{
    qint64 slot = -1;
    qint64 slotsEnd = -1;
    for (qint64 at = 0; at + 4 <= extra.size() && slot < 0;) {
        const qint64 end = at + 4 + qint64(little(extra, at + 2, 2));
        if (little(extra, at, 2) == kZip64ExtraId && end <= extra.size()) {
            slot = at + 4;
            slotsEnd = end;
        }
        at = end;
    }
    for (const auto& [value, hasSlot] : fields) {
        if (!hasSlot)
            continue;
        if (slot < 0 || slot + 8 > slotsEnd)
            return false;
        if (*value == kZip64Marker)
            *value = little(extra, slot, 8);
        slot += 8;
    }
    return true;
}

QString disagreement(const Header& central, const Header& local)
{
    if (local.flags != central.flags)
        return QStringLiteral("its local header's flags 0x%1 differ from the central directory's "
                              "0x%2")
            .arg(local.flags, 4, 16, QLatin1Char('0'))
            .arg(central.flags, 4, 16, QLatin1Char('0'));
    if (local.method != central.method)
        return QStringLiteral("its local header's compression method %1 differs from the central "
                              "directory's %2")
            .arg(local.method)
            .arg(central.method);
    const bool sizesFollowData = (local.flags & kDataDescriptorFlag) != 0 && local.crc == 0 &&
                                 local.compressedSize == 0 && local.size == 0;
    if (!sizesFollowData &&
        (local.size != central.size || local.compressedSize != central.compressedSize))
        return QStringLiteral("its local header's sizes %1 (%2 packed) differ from the central "
                              "directory's %3 (%4 packed)")
            .arg(local.size)
            .arg(local.compressedSize)
            .arg(central.size)
            .arg(central.compressedSize);
    return QString();
}

// The local header of the entry the central record describes, which lies before the central
// directory; none when there is no such header.
std::optional<Header> localHeader(QIODevice& file, const Header& central, quint64 directoryOffset)
{
    if (central.localOffset > directoryOffset || directoryOffset - central.localOffset < kLocalSize)
        return std::nullopt;
    const std::optional<QByteArray> fixed = readAt(file, central.localOffset, kLocalSize);
    if (!fixed || little(*fixed, 0, 4) != kLocalSignature)
        return std::nullopt;
    Header local;
    local.flags = quint16(little(*fixed, 6, 2));
    local.method = quint16(little(*fixed, 8, 2));
    local.crc = quint32(little(*fixed, 14, 4));
    local.compressedSize = little(*fixed, 18, 4);
    local.size = little(*fixed, 22, 4);
    // A local header's zip64 field holds both sizes when either needs it.
    const bool zip64 = local.size == kZip64Marker || local.compressedSize == kZip64Marker;
    if (zip64) {
        const quint64 extraOffset = central.localOffset + kLocalSize + little(*fixed, 26, 2);
        const std::optional<QByteArray> extra =
            readAt(file, extraOffset, qint64(little(*fixed, 28, 2)));
        if (!extra || !widen(*extra, {{&local.size, true}, {&local.compressedSize, true}}))
            return std::nullopt;
    }
    return local;
}

struct Directory
{
    quint64 entries = 0;
    quint64 offset = 0;
    quint64 size = 0;
    // Where the records after the central directory begin: it must end there or before.
    quint64 end = 0;
};

// The one end of central directory record whose comment runs exactly to the end of the file, as
// libzip's consistency check has it; with a second one the archive could be read two ways.
Result<qint64> endRecordOffset(QIODevice& file)
{
    const qint64 tailSize = qMin(file.size(), kMaxCommentSize + kEndSize + kZip64LocatorSize);
    const qint64 tailOffset = file.size() - tailSize;
    const std::optional<QByteArray> tail = readAt(file, quint64(tailOffset), tailSize);
    if (!tail)
        return Result<qint64>::failure(QStringLiteral("cannot be read"));
    QList<qint64> found;
    for (qint64 at = 0; at + kEndSize <= tailSize; ++at) {
        if (little(*tail, at, 4) == kEndSignature &&
            qint64(little(*tail, at + 20, 2)) == tailSize - at - kEndSize)
            found.append(tailOffset + at);
    }
    if (found.size() != 1)
        return Result<qint64>::failure(
            found.isEmpty() ? QStringLiteral("has no end of central directory record")
                            : QStringLiteral("has more than one end of central directory record"));
    return found.first();
}

Result<Directory> readDirectory(QIODevice& file)
{
    const Result<qint64> endOffset = endRecordOffset(file);
    if (!endOffset)
        return Result<Directory>::failure(endOffset.error());
    const std::optional<QByteArray> end = readAt(file, quint64(endOffset.value()), kEndSize);
    if (!end)
        return Result<Directory>::failure(QStringLiteral("cannot be read"));
    Directory directory{little(*end, 10, 2), little(*end, 16, 4), little(*end, 12, 4),
                        quint64(endOffset.value())};
    // libzip takes the zip64 record wherever its locator lies right before the end record.
    const std::optional<QByteArray> locator =
        endOffset.value() >= kZip64LocatorSize
            ? readAt(file, quint64(endOffset.value() - kZip64LocatorSize), kZip64LocatorSize)
            : std::nullopt;
    if (locator && little(*locator, 0, 4) == kZip64LocatorSignature) {
        directory.end = little(*locator, 8, 8);
        const std::optional<QByteArray> zip64 = readAt(file, directory.end, kZip64EndSize);
        if (!zip64 || little(*zip64, 0, 4) != kZip64EndSignature)
            return Result<Directory>::failure(
                QStringLiteral("has no zip64 end of central directory record"));
        directory = {little(*zip64, 32, 8), little(*zip64, 48, 8), little(*zip64, 40, 8),
                     directory.end};
    }
    if (directory.offset > directory.end || directory.size > directory.end - directory.offset)
        return Result<Directory>::failure(
            QStringLiteral("has its central directory outside the archive"));
    return directory;
}

} // namespace

Result<quint64, ZipHeaders::Fault> ZipHeaders::check(QIODevice& archive, quint64 maxEntries)
{
    const Result<Directory> read = readDirectory(archive);
    if (!read)
        return archiveFault(read.error());
    const Directory& directory = read.value();
    if (directory.entries > maxEntries)
        return archiveFault(QStringLiteral("holds %1 entries, more than %2")
                                .arg(directory.entries)
                                .arg(maxEntries));
    const quint64 directoryEnd = directory.offset + directory.size;
    quint64 position = directory.offset;
    for (quint64 index = 0; index < directory.entries; ++index) {
        const std::optional<QByteArray> fixed = position + kCentralSize <= directoryEnd
                                                    ? readAt(archive, position, kCentralSize)
                                                    : std::nullopt;
        if (!fixed || little(*fixed, 0, 4) != kCentralSignature)
            return archiveFault(QStringLiteral("has no central directory record %1").arg(index));
        const qint64 nameSize = qint64(little(*fixed, 28, 2));
        const qint64 extraSize = qint64(little(*fixed, 30, 2));
        const quint64 next =
            position + kCentralSize + quint64(nameSize + extraSize) + little(*fixed, 32, 2);
        const std::optional<QByteArray> variable =
            next <= directoryEnd ? readAt(archive, position + kCentralSize, nameSize + extraSize)
                                 : std::nullopt;
        if (!variable)
            return archiveFault(
                QStringLiteral("has central directory record %1 cut off").arg(index));
        const QByteArray name = variable->left(int(nameSize));
        Header central{quint16(little(*fixed, 8, 2)),  quint16(little(*fixed, 10, 2)),
                       quint32(little(*fixed, 16, 4)), little(*fixed, 20, 4),
                       little(*fixed, 24, 4),          little(*fixed, 42, 4)};
        if (!widen(variable->mid(int(nameSize)),
                   {{&central.size, central.size == kZip64Marker},
                    {&central.compressedSize, central.compressedSize == kZip64Marker},
                    {&central.localOffset, central.localOffset == kZip64Marker}}))
            return entryFault(name, QStringLiteral("lacks the zip64 sizes it announces"));
        const std::optional<Header> local = localHeader(archive, central, directory.offset);
        if (!local)
            return entryFault(
                name, QStringLiteral("has no local header at offset %1").arg(central.localOffset));
        const QString reason = disagreement(central, *local);
        if (!reason.isEmpty())
            return entryFault(name, reason);
        position = next;
    }
    return directory.entries;
}
