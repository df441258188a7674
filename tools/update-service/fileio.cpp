#include "fileio.h"

#include <QFile>

namespace updateservice {

bool fail(QString* error, const QString& message)
{
    if (error) {
        *error = message;
    }
    return false;
}

bool writeWholeFile(const QString& path, const QByteArray& content, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }
    return true;
}

} // namespace updateservice
