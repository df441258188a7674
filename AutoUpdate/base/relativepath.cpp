#include "base/relativepath.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace {

bool hasParentComponent(const QString& path)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return path.split(separators).contains(QStringLiteral(".."));
}

bool startsWithDriveLetter(const QString& path)
{
    return path.size() >= 2 && path.at(0).isLetter() && path.at(1) == QLatin1Char(':');
}

bool hasControlCharacter(const QString& path)
{
    return std::any_of(path.begin(), path.end(), [](QChar c) { return c.unicode() < 0x20; });
}

} // namespace

QString RelativePath::unsafeReason(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("has no name");
    if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return QStringLiteral("is an absolute path");
    if (startsWithDriveLetter(path))
        return QStringLiteral("names a drive");
    if (hasParentComponent(path))
        return QStringLiteral("climbs out with \"..\"");
    if (hasControlCharacter(path))
        return QStringLiteral("holds a control character");
    return QString();
}

QString RelativePath::fileKey(const QString& cleanPath)
{
#ifdef Q_OS_WIN
    return cleanPath.toCaseFolded();
#else
    return cleanPath;
#endif
}

QString RelativePath::clean(const QString& path)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(path));
}
