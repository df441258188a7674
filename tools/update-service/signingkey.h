#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QString>

namespace updateservice {

inline constexpr const char* kSecretKeyFileName = "signing.key";
inline constexpr const char* kPublicKeyFileName = "signing.pub";

struct KeyFiles
{
    QString secretKeyPath;
    QString publicKeyPath;
    QString publicKey; // base64, as the updater's "publicKey" takes it
    QString keyId;
};

// Makes a new Ed25519 key pair in folder, which is created when missing: signing.key, the secret
// key as one line of base64, readable and writable by its owner only, and signing.pub, the public
// key as one line of base64. Refuses when either file exists; on failure nothing new is left.
Result<KeyFiles> writeKeyPair(const QString& folder);

// The secret key of a signing.key file.
Result<QByteArray> readSecretKey(const QString& path);

} // namespace updateservice
