#include "fileio.h"

#include <QFile>

namespace updateservice {

Outcome writeWholeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        return Outcome::failure(
            QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }
    return Outcome::success();
}

} // namespace updateservice
