#include "base/savedfile.h"

#include <QSaveFile>

Outcome SavedFile::write(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    // Qt 5's commit() can report success after its own flush failed on a full disk, so the flush
    // and the error state are checked before it.
    const bool written = file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
                         file.flush() && file.error() == QFileDevice::NoError;
    if (!written || !file.commit()) {
        const int code =
            file.error() != QFileDevice::NoError ? file.error() : QFileDevice::WriteError;
        file.cancelWriting();
        return Outcome::failure(QStringLiteral("cannot write ") + path, code);
    }
    return Outcome::success();
}
