#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

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
std::optional<KeyFiles> writeKeyPair(const QString& folder, QString* error);

// The secret key of a signing.key file.
std::optional<QByteArray> readSecretKey(const QString& path, QString* error);

} // namespace updateservice
