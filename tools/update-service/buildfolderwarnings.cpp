#include "buildfolderwarnings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace updateservice {

namespace {

bool isAbsoluteOnSomeSystem(const QString& path)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return QDir::isAbsolutePath(path) || path.startsWith('\\') || drive.match(path).hasMatch();
}

} // namespace

QStringList absoluteAppPaths(const QString& buildPath)
{
    QStringList warnings;
    QDirIterator it(buildPath, {QStringLiteral("updateconfig.json")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        const QString appPath = file.open(QIODevice::ReadOnly)
                                    ? QJsonDocument::fromJson(file.readAll())
                                          .object()
                                          .value(QStringLiteral("appPath"))
                                          .toString()
                                    : QString();
        if (isAbsoluteOnSomeSystem(appPath)) {
            warnings.append(QStringLiteral("%1 names the absolute appPath \"%2\"; installed "
                                           "clients keep their own, but a relative one (\"../\") "
                                           "serves every installation")
                                .arg(it.filePath(), appPath));
        }
    }
    return warnings;
}

} // namespace updateservice
