#include "install/treecomparison.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <optional>

#include <zlib.h>

namespace {

constexpr qint64 kBlockSize = 1 << 20;

QStringList entriesBelow(const QString& folder, QDir::Filters kind)
{
    // The system reads a path only up to a NUL, so each folder found below such a path would be
    // listed as the same folder again, deeper and deeper, until memory runs out.
    if (folder.contains(QChar(0)))
        return {};
    QStringList entries;
    const QString prefix = QDir(folder).absolutePath() + QLatin1Char('/');
    QDirIterator it(folder, kind | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(QFileInfo(it.next()).absoluteFilePath().mid(prefix.size()));
    entries.sort();
    return entries;
}

// A copy that went wrong is cut short, holds another file's bytes or none at all; CRC-32 tells
// those apart as surely as a cryptographic digest, at a fraction of the cost. Nothing when the
// file cannot be read to its end.
std::optional<uLong> checksumOf(QFile& file)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    QByteArray block(kBlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(block.data(), kBlockSize);
        if (read < 0)
            return std::nullopt;
        if (read == 0)
            return crc;
        crc =
            crc32(crc, reinterpret_cast<const Bytef*>(block.constData()), static_cast<uInt>(read));
    }
}

// The sizes are asked of the open files: by name, Qt takes a file ending in ".lnk" for a Windows
// shortcut and answers for its target. A folder opens but cannot be read, so it never matches.
bool sameFile(const QString& source, const QString& target)
{
    QFile original(source);
    QFile copy(target);
    if (!original.open(QIODevice::ReadOnly) || !copy.open(QIODevice::ReadOnly) ||
        original.size() != copy.size())
        return false;
    const std::optional<uLong> checksum = checksumOf(original);
    return checksum && checksum == checksumOf(copy);
}

} // namespace

QStringList TreeComparison::filesBelow(const QString& folder)
{
    return entriesBelow(folder, QDir::Files);
}

QStringList TreeComparison::foldersBelow(const QString& folder)
{
    return entriesBelow(folder, QDir::Dirs);
}

QString TreeComparison::firstDifference(const QString& source, const QString& target,
                                        const QStringList& relativePaths)
{
    for (const QString& path : relativePaths) {
        if (!sameFile(source + QLatin1Char('/') + path, target + QLatin1Char('/') + path))
            return path;
    }
    return {};
}
