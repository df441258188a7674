#pragma once

#include "base/sha256.h"

#include <QCryptographicHash>
#include <QString>

// The digests of a package, fed with each block as it is written, so that the verdict is ready
// when the last byte lands and the package is never read again. SHA-256 is only computed when
// the release announces one.
class PackageDigest
{
public:
    PackageDigest();

    void reset(bool withSha256);
    void addData(const char* data, qint64 size);

    // Lower-case hexadecimal; empty where that digest is not computed.
    QString md5() const;
    QString sha256() const;

private:
    QCryptographicHash m_md5;
    Sha256 m_sha256;
    bool m_withSha256 = false;
};
