#include "packageunpacker.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtGui/private/qzipreader_p.h>

namespace {

constexpr quint32 kEndOfCentralDirectory = 0x06054b50;
constexpr quint32 kCentralDirectoryHeader = 0x02014b50;
constexpr int kEndRecordSize = 22;
constexpr int kMaxCommentSize = 0xffff;
constexpr int kCentralHeaderSize = 46;

quint16 readUInt16(const QByteArray& data, int offset)
{
    return static_cast<quint16>(static_cast<quint8>(data.at(offset)) |
                                static_cast<quint8>(data.at(offset + 1)) << 8);
}

quint32 readUInt32(const QByteArray& data, int offset)
{
    return readUInt16(data, offset) | static_cast<quint32>(readUInt16(data, offset + 2)) << 16;
}

QByteArray centralDirectory(QFile& file)
{
    const qint64 tailSize = qMin<qint64>(file.size(), kEndRecordSize + kMaxCommentSize);
    if (!file.seek(file.size() - tailSize))
        return {};
    const QByteArray tail = file.read(tailSize);
    for (int at = tail.size() - kEndRecordSize; at >= 0; --at) {
        if (readUInt32(tail, at) != kEndOfCentralDirectory)
            continue;
        const quint32 size = readUInt32(tail, at + 12);
        if (!file.seek(readUInt32(tail, at + 16)))
            return {};
        return file.read(size);
    }
    return {};
}

// The names as the archive stores them. QZipReader quietly drops leading "/" and "." from the
// names it reports, so "../x" would be unpacked as "x"; a package naming such entries is refused
// rather than guessed at.
QStringList storedEntryNames(const QString& packagePath)
{
    QStringList names;
    QFile file(packagePath);
    if (!file.open(QIODevice::ReadOnly))
        return names;
    const QByteArray directory = centralDirectory(file);
    for (int at = 0; at + kCentralHeaderSize <= directory.size() &&
                     readUInt32(directory, at) == kCentralDirectoryHeader;) {
        const int nameSize = readUInt16(directory, at + 28);
        const int extraSize = readUInt16(directory, at + 30);
        const int commentSize = readUInt16(directory, at + 32);
        names.append(QString::fromUtf8(directory.mid(at + kCentralHeaderSize, nameSize)));
        at += kCentralHeaderSize + nameSize + extraSize + commentSize;
    }
    return names;
}

bool hasParentComponent(const QString& name)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return name.split(separators).contains(QStringLiteral(".."));
}

bool startsWithDriveLetter(const QString& name)
{
    return name.size() >= 2 && name.at(0).isLetter() && name.at(1) == QLatin1Char(':');
}

// A link already on disk between the folder and the target would carry the write elsewhere.
bool passesThroughLink(const QString& target, const QString& folder)
{
    for (QString path = target; path.size() > folder.size();
         path = QFileInfo(path).absolutePath()) {
        if (QFileInfo(path).isSymLink())
            return true;
    }
    return false;
}

bool hasUnsafeEntry(const QStringList& names, const QString& folder)
{
    for (const QString& name : names) {
        const QString reason = PackageUnpacker::unsafeEntryReason(name, folder);
        if (!reason.isEmpty()) {
            qDebug() << "package refused, entry" << name << reason;
            return true;
        }
    }
    return false;
}

QStringList namesOf(const QVector<QZipReader::FileInfo>& entries)
{
    QStringList names;
    for (const QZipReader::FileInfo& entry : entries)
        names.append(entry.filePath);
    return names;
}

bool writeEntry(QZipReader& archive, const QZipReader::FileInfo& entry, const QString& target)
{
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "unzip " << target << " failed:" << static_cast<int>(file.error());
        return false;
    }
    file.write(archive.fileData(entry.filePath));
    return true;
}

} // namespace

QString PackageUnpacker::unsafeEntryReason(const QString& entryName, const QString& folder)
{
    if (entryName.isEmpty())
        return QStringLiteral("has no name");
    if (entryName.startsWith(QLatin1Char('/')) || entryName.startsWith(QLatin1Char('\\')))
        return QStringLiteral("is an absolute path");
    if (startsWithDriveLetter(entryName))
        return QStringLiteral("names a drive");
    if (hasParentComponent(entryName))
        return QStringLiteral("climbs out with \"..\"");
    const QString base = QDir::cleanPath(folder);
    const QString resolved = QDir::cleanPath(folder + entryName);
    if (!resolved.startsWith(base + QLatin1Char('/')))
        return QStringLiteral("lands outside the folder");
    if (passesThroughLink(resolved, base))
        return QStringLiteral("passes through a link");
    return QString();
}

PackageUnpacker::Result PackageUnpacker::unpack(const QString& packagePath, const QString& folder)
{
    QZipReader archive(packagePath, QIODevice::ReadOnly);
    const QVector<QZipReader::FileInfo> entries = archive.fileInfoList();
    if (hasUnsafeEntry(storedEntryNames(packagePath), folder) ||
        hasUnsafeEntry(namesOf(entries), folder))
        return Result::UnsafeEntry;
    for (const QZipReader::FileInfo& entry : entries) {
        const QString target = folder + entry.filePath;
        if (entry.isDir && !QFileInfo::exists(target))
            QDir().mkpath(target);
        else if (entry.isFile && !writeEntry(archive, entry, target))
            return Result::WriteFailed;
    }
    return Result::Unpacked;
}
