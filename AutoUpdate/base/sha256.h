#pragma once

#include <QByteArray>
#include <QString>

#include <sodium.h>

// SHA-256 by libsodium, about twice as fast as QCryptographicHash's: an update hashes every
// file of a release more than once, and a delta's road more often than a whole package's.
class Sha256
{
public:
    Sha256();

    void reset();
    void addData(const char* data, qint64 size);
    // The digest of what was added so far, in lower-case hexadecimal; more may be added after.
    QString hex() const;

    static QString hexOf(const QByteArray& bytes);

private:
    crypto_hash_sha256_state m_state;
};
