#include "base/filedigest.h"

#include <QCryptographicHash>
#include <QFile>

Result<QString> FileDigest::sha256(const QString& path)
{
    constexpr qint64 kBlockSize = 1 << 20;
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly)) {
        // An empty block ends the file or reports a failed read; only the file's error tells.
        for (QByteArray block = file.read(kBlockSize); !block.isEmpty();
             block = file.read(kBlockSize))
            hash.addData(block);
    }
    if (file.error() != QFileDevice::NoError)
        return Result<QString>::failure(QStringLiteral("cannot be read: ") + file.errorString());
    return QString::fromLatin1(hash.result().toHex());
}
