#include "install/treecopy.h"

#include "install/treecomparison.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kSetAsideSuffix = QStringLiteral(".replaced");

// A link stands for itself here: removing it removes the link, never what it leads to. A link to
// a folder is a folder entry on Windows.
bool removeLink(const QString& path)
{
    return QFile::remove(path) || QDir().rmdir(path);
}

// The first free name beside path for a file set aside.
QString setAsidePath(const QString& path)
{
    QString aside = path + kSetAsideSuffix;
    for (int n = 2; Platform::pathKind(aside) != Platform::PathKind::Missing; ++n)
        aside = path + kSetAsideSuffix + QLatin1Char('-') + QString::number(n);
    return aside;
}

// Makes room for a new file at path: a link or a file is removed, a read-only one made writable
// first; one that still cannot go, as a running program on Windows, is renamed aside.
Outcome clearFilePath(const QString& path)
{
    switch (Platform::pathKind(path)) {
    case Platform::PathKind::Missing:
        return Outcome::success();
    case Platform::PathKind::Link:
        return removeLink(path) ? Outcome::success()
                                : Outcome::failure(QStringLiteral("link not removed: ") + path);
    case Platform::PathKind::Folder:
        return Outcome::failure(QStringLiteral("a folder stands where a file goes: ") + path);
    case Platform::PathKind::File:
        break;
    }
    if (QFile::remove(path))
        return Outcome::success();
    QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::WriteUser);
    if (QFile::remove(path) || Platform::moveFile(path, setAsidePath(path)))
        return Outcome::success();
    return Outcome::failure(QStringLiteral("file not replaced: ") + path);
}

Outcome makeFolder(const QString& path)
{
    switch (Platform::pathKind(path)) {
    case Platform::PathKind::Folder:
        return Outcome::success();
    case Platform::PathKind::Link:
        if (!removeLink(path))
            return Outcome::failure(QStringLiteral("link not removed: ") + path);
        break;
    case Platform::PathKind::File:
        return Outcome::failure(QStringLiteral("a file stands where a folder goes: ") + path);
    case Platform::PathKind::Missing:
        break;
    }
    return QDir().mkdir(path) ? Outcome::success()
                              : Outcome::failure(QStringLiteral("folder not made: ") + path);
}

} // namespace

Outcome TreeCopy::copy(const QString& source, const QString& target,
                       const std::function<void()>& alive)
{
    // Folders in sorted order come after the folders that hold them.
    for (const QString& folder : TreeComparison::foldersBelow(source)) {
        const Outcome made = makeFolder(target + QLatin1Char('/') + folder);
        if (!made)
            return made;
    }
    for (const QString& file : TreeComparison::filesBelow(source)) {
        alive();
        const QString to = target + QLatin1Char('/') + file;
        const Outcome cleared = clearFilePath(to);
        if (!cleared)
            return cleared;
        if (!QFile::copy(source + QLatin1Char('/') + file, to))
            return Outcome::failure(QStringLiteral("file not copied: ") + to);
    }
    return Outcome::success();
}

void TreeCopy::removeSetAside(const QString& folder)
{
    const QDir dir(folder);
    const QStringList pattern{QLatin1Char('*') + kSetAsideSuffix,
                              QLatin1Char('*') + kSetAsideSuffix + QStringLiteral("-*")};
    for (const QString& name : dir.entryList(pattern, QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(dir.filePath(name));
}
