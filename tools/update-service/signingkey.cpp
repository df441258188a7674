#include "signingkey.h"

#include "fileio.h"
#include "release/releasesignature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

namespace updateservice {

namespace {

constexpr qint64 kLongestKeyFile = 4096;

// Creates the file with its permissions from the start, so a secret key is never readable by
// others, not even for a moment; an existing file is never replaced.
bool writeNewFile(const QString& path, const QByteArray& content, mode_t mode, QString* error)
{
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    QFile file;
    if (descriptor < 0 || !file.open(descriptor, QIODevice::WriteOnly, QFile::AutoCloseHandle) ||
        file.write(content) != content.size() || !file.flush()) {
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, qt_error_string()));
    }
    return true;
}

bool refuseExisting(const QString& path, QString* error)
{
    if (QFileInfo::exists(path)) {
        return fail(error, QStringLiteral("%1 already exists; keygen never replaces a key, "
                                          "choose another folder")
                               .arg(path));
    }
    return true;
}

} // namespace

std::optional<KeyFiles> writeKeyPair(const QString& folder, QString* error)
{
    const QDir dir(folder);
    KeyFiles files{dir.filePath(kSecretKeyFileName), dir.filePath(kPublicKeyFileName), {}, {}};
    if (!(refuseExisting(files.secretKeyPath, error) &&
          refuseExisting(files.publicKeyPath, error))) {
        return std::nullopt;
    }
    if (!QDir().mkpath(folder)) {
        fail(error, QStringLiteral("cannot create %1").arg(folder));
        return std::nullopt;
    }
    const ReleaseSignature::KeyPair pair = ReleaseSignature::generateKeyPair();
    if (pair.secretKey.isEmpty()) {
        fail(error, QStringLiteral("the signature library cannot start"));
        return std::nullopt;
    }
    files.publicKey = QString::fromLatin1(pair.publicKey.toBase64());
    files.keyId = ReleaseSignature::keyId(pair.publicKey);
    if (!writeNewFile(files.secretKeyPath, pair.secretKey.toBase64() + '\n', S_IRUSR | S_IWUSR,
                      error)) {
        return std::nullopt;
    }
    if (!writeNewFile(files.publicKeyPath, files.publicKey.toLatin1() + '\n',
                      S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH, error)) {
        QFile::remove(files.secretKeyPath);
        return std::nullopt;
    }
    return files;
}

std::optional<QByteArray> readSecretKey(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("cannot read signing key %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    // A key file is one short line; whatever else was given need not be read whole.
    const QByteArray secretKey = ReleaseSignature::fromBase64(file.read(kLongestKeyFile).trimmed());
    if (!ReleaseSignature::isSecretKey(secretKey)) {
        fail(error, QStringLiteral("%1 is not a signing key; give the %2 that update-service "
                                   "keygen wrote")
                        .arg(path, kSecretKeyFileName));
        return std::nullopt;
    }
    return secretKey;
}

} // namespace updateservice
