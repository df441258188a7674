#include "treecomparison.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 kBlockSize = 1 << 20;

QStringList entriesBelow(const QString& folder, QDir::Filters kind)
{
    QStringList entries;
    const QString prefix = QDir(folder).absolutePath() + QLatin1Char('/');
    QDirIterator it(folder, kind | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(QFileInfo(it.next()).absoluteFilePath().mid(prefix.size()));
    entries.sort();
    return entries;
}

// Empty when the file cannot be read to its end.
QByteArray digestOf(QFile& file)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray block(kBlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(block.data(), kBlockSize);
        if (read < 0)
            return {};
        if (read == 0)
            return hash.result();
        hash.addData(block.constData(), static_cast<int>(read));
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
    const QByteArray digest = digestOf(original);
    return !digest.isEmpty() && digest == digestOf(copy);
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
