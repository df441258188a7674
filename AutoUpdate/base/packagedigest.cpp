#include "base/packagedigest.h"

PackageDigest::PackageDigest() : m_md5(QCryptographicHash::Md5) {}

void PackageDigest::reset(bool withSha256)
{
    m_md5.reset();
    m_sha256.reset();
    m_withSha256 = withSha256;
}

void PackageDigest::addData(const char* data, qint64 size)
{
    // QCryptographicHash takes int lengths.
    constexpr qint64 kMaxPiece = 1 << 30;
    for (qint64 done = 0; done < size;) {
        const int piece = static_cast<int>(qMin(size - done, kMaxPiece));
        m_md5.addData(data + done, piece);
        if (m_withSha256)
            m_sha256.addData(data + done, piece);
        done += piece;
    }
}

QString PackageDigest::md5() const
{
    return QString::fromLatin1(m_md5.result().toHex());
}

QString PackageDigest::sha256() const
{
    return m_withSha256 ? m_sha256.hex() : QString();
}
