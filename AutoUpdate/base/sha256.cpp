#include "base/sha256.h"

Sha256::Sha256()
{
    reset();
}

void Sha256::reset()
{
    crypto_hash_sha256_init(&m_state);
}

void Sha256::addData(const char* data, qint64 size)
{
    crypto_hash_sha256_update(&m_state, reinterpret_cast<const unsigned char*>(data),
                              static_cast<unsigned long long>(size));
}

QString Sha256::hex() const
{
    crypto_hash_sha256_state finished = m_state;
    QByteArray digest(crypto_hash_sha256_BYTES, Qt::Uninitialized);
    crypto_hash_sha256_final(&finished, reinterpret_cast<unsigned char*>(digest.data()));
    return QString::fromLatin1(digest.toHex());
}

QString Sha256::hexOf(const QByteArray& bytes)
{
    Sha256 hash;
    hash.addData(bytes.constData(), bytes.size());
    return hash.hex();
}
