#include "base/filedigest.h"

#include "base/sha256.h"

#include <QFile>

Result<QString> FileDigest::sha256(const QString& path)
{
    constexpr qint64 kBlockSize = 1 << 20;
    QFile file(path);
    Sha256 hash;
    if (file.open(QIODevice::ReadOnly)) {
        // An empty block ends the file or reports a failed read; only the file's error tells.
        for (QByteArray block = file.read(kBlockSize); !block.isEmpty();
             block = file.read(kBlockSize))
            hash.addData(block.constData(), block.size());
    }
    if (file.error() != QFileDevice::NoError)
        return Result<QString>::failure(QStringLiteral("cannot be read: ") + file.errorString());
    return hash.hex();
}
