#include "signingkey.h"

#include "release/releasesignature.h"
#include "steps.h"

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
Outcome writeNewFile(const QString& path, const QByteArray& content, mode_t mode)
{
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    QFile file;
    if (descriptor < 0 || !file.open(descriptor, QIODevice::WriteOnly, QFile::AutoCloseHandle) ||
        file.write(content) != content.size() || !file.flush()) {
        return Outcome::failure(QStringLiteral("cannot write %1: %2").arg(path, qt_error_string()));
    }
    return Outcome::success();
}

Outcome refuseExisting(const QString& path)
{
    if (QFileInfo::exists(path)) {
        return Outcome::failure(QStringLiteral("%1 already exists; keygen never replaces a key, "
                                               "choose another folder")
                                    .arg(path));
    }
    return Outcome::success();
}

// The secret key goes first and is taken back should the public one fail, so a failure leaves
// nothing new behind.
Outcome writeKeyFiles(const KeyFiles& files, const QByteArray& secretKey)
{
    const Outcome secretWritten =
        writeNewFile(files.secretKeyPath, secretKey.toBase64() + '\n', S_IRUSR | S_IWUSR);
    if (!secretWritten) {
        return secretWritten;
    }
    const Outcome publicWritten =
        writeNewFile(files.publicKeyPath, files.publicKey.toLatin1() + '\n',
                     S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    if (!publicWritten) {
        QFile::remove(files.secretKeyPath);
    }
    return publicWritten;
}

} // namespace

Result<KeyFiles> writeKeyPair(const QString& folder)
{
    const QDir dir(folder);
    KeyFiles files{dir.filePath(kSecretKeyFileName), dir.filePath(kPublicKeyFileName), {}, {}};
    const Outcome absent = inTurn([&] { return refuseExisting(files.secretKeyPath); },
                                  [&] { return refuseExisting(files.publicKeyPath); });
    if (!absent) {
        return Result<KeyFiles>::failure(absent.error());
    }
    if (!QDir().mkpath(folder)) {
        return Result<KeyFiles>::failure(QStringLiteral("cannot create %1").arg(folder));
    }
    const ReleaseSignature::KeyPair pair = ReleaseSignature::generateKeyPair();
    if (pair.secretKey.isEmpty()) {
        return Result<KeyFiles>::failure(QStringLiteral("the signature library cannot start"));
    }
    files.publicKey = QString::fromLatin1(pair.publicKey.toBase64());
    files.keyId = ReleaseSignature::keyId(pair.publicKey);
    const Outcome written = writeKeyFiles(files, pair.secretKey);
    if (!written) {
        return Result<KeyFiles>::failure(written.error());
    }
    return files;
}

Result<QByteArray> readSecretKey(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Result<QByteArray>::failure(
            QStringLiteral("cannot read signing key %1: %2").arg(path, file.errorString()));
    }
    // A key file is one short line; whatever else was given need not be read whole.
    const QByteArray secretKey = ReleaseSignature::fromBase64(file.read(kLongestKeyFile).trimmed());
    if (!ReleaseSignature::isSecretKey(secretKey)) {
        return Result<QByteArray>::failure(
            QStringLiteral("%1 is not a signing key; give the %2 that update-service keygen wrote")
                .arg(path, kSecretKeyFileName));
    }
    return secretKey;
}

} // namespace updateservice
