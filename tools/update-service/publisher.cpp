#include "publisher.h"

#include "fileio.h"
#include "packagezip.h"
#include "release/releasesignature.h"
#include "signingkey.h"
#include "staticsite.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>

namespace updateservice {

namespace {

// Versions and names become file names on Windows and part of download addresses.
bool isPortableName(const QString& text)
{
    static const QString kForbidden = QStringLiteral("/\\:*?\"<>|#%");
    const auto isForbidden = [](QChar c) { return c.unicode() < 0x20 || kForbidden.contains(c); };
    return !text.isEmpty() && text != QLatin1String("..") && !text.endsWith('.') &&
           !text.startsWith(' ') && !text.endsWith(' ') &&
           std::none_of(text.begin(), text.end(), isForbidden);
}

bool checkPortable(const QString& what, const QString& text, QString* error)
{
    if (text.isEmpty()) {
        return fail(error, QStringLiteral("the %1 is empty").arg(what));
    }
    if (!isPortableName(text)) {
        return fail(error, QStringLiteral("the %1 \"%2\" cannot be used in file names and "
                                          "addresses; avoid / \\ : * ? \" < > | # %, control "
                                          "characters and a leading or trailing space or dot")
                               .arg(what, text));
    }
    return true;
}

bool checkReadable(const QString& what, const QFileInfo& info, bool folder, QString* error)
{
    if (!info.exists()) {
        return fail(error, QStringLiteral("%1 %2 does not exist").arg(what, info.filePath()));
    }
    if (info.isDir() != folder) {
        return fail(error, QStringLiteral("%1 %2 is not a %3")
                               .arg(what, info.filePath(), folder ? "folder" : "file"));
    }
    if (!info.isReadable()) {
        return fail(error, QStringLiteral("cannot read %1 %2").arg(what, info.filePath()));
    }
    return true;
}

bool isInside(const QString& relativePath)
{
    const QString clean = QDir::cleanPath(relativePath);
    return !QDir::isAbsolutePath(clean) && clean != QLatin1String("..") &&
           !clean.startsWith(QLatin1String("../"));
}

struct Digests
{
    QString md5;
    QString sha1;
    QString sha256;
};

constexpr qint64 kDigestPieceSize = 1024 * 1024;

std::optional<Digests> fileDigests(const QString& path, QString* error)
{
    QFile file(path);
    QCryptographicHash md5(QCryptographicHash::Md5);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly)) {
        // An empty piece ends the file or reports a failed read; only the file's error tells
        // which.
        for (QByteArray piece = file.read(kDigestPieceSize); !piece.isEmpty();
             piece = file.read(kDigestPieceSize)) {
            md5.addData(piece);
            sha1.addData(piece);
            sha256.addData(piece);
        }
    }
    if (file.error() != QFileDevice::NoError) {
        fail(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return Digests{QString::fromLatin1(md5.result().toHex()),
                   QString::fromLatin1(sha1.result().toHex()),
                   QString::fromLatin1(sha256.result().toHex())};
}

class Publication
{
public:
    explicit Publication(const PublishRequest& request) : m_request(request) {}

    std::optional<Release> run(QString* error)
    {
        if (!(checkRequest(error) && loadSigningKey(error) && checkBuild(error) &&
              checkReleasesDir(error))) {
            return std::nullopt;
        }
        const bool releasesDirIsNew = !QFileInfo::exists(m_request.releasesDir);
        std::optional<Release> release = assemble(error);
        if (!release && releasesDirIsNew) {
            QDir().rmdir(m_request.releasesDir);
        }
        return release;
    }

private:
    bool isZip() const { return m_request.kind == PackageKind::Zip; }

    QString packageFileName() const
    {
        const QString stem = m_request.name + '_' + m_request.version;
        if (isZip()) {
            return stem + QStringLiteral(".zip");
        }
        const QString suffix = QFileInfo(m_request.buildPath).completeSuffix();
        return suffix.isEmpty() ? stem : stem + '.' + suffix;
    }

    bool checkRequest(QString* error) const
    {
        if (m_request.notesZh.contains('&') || m_request.notesEn.contains('&')) {
            return fail(error, QStringLiteral("the release notes must not contain \"&\", which "
                                              "separates the Chinese from the English notes"));
        }
        if (m_request.updateMode != QLatin1String("1") &&
            m_request.updateMode != QLatin1String("2")) {
            return fail(error, QStringLiteral("the update mode must be 1 or 2, not \"%1\"")
                                   .arg(m_request.updateMode));
        }
        if (m_request.releasesDir.isEmpty()) {
            return fail(error, QStringLiteral("no releases folder given"));
        }
        return checkPortable(QStringLiteral("version"), m_request.version, error) &&
               checkPortable(QStringLiteral("package name"), m_request.name, error);
    }

    bool isSigned() const { return !m_request.signingKeyPath.isEmpty(); }

    bool loadSigningKey(QString* error)
    {
        if (!isSigned()) {
            return true;
        }
        const std::optional<QByteArray> key = readSecretKey(m_request.signingKeyPath, error);
        m_secretKey = key.value_or(QByteArray());
        return key.has_value();
    }

    bool checkBuild(QString* error) const
    {
        const QFileInfo build(m_request.buildPath);
        if (!isZip()) {
            return checkReadable(QStringLiteral("installer"), build, false, error) &&
                   checkSize(build, error);
        }
        return checkReadable(QStringLiteral("build folder"), build, true, error) &&
               checkClientConfig(error);
    }

    bool checkSize(const QFileInfo& package, QString* error) const
    {
        if (package.size() > kMaxPackageSize) {
            return fail(error, QStringLiteral("%1 is larger than a package may be (2 GiB)")
                                   .arg(package.filePath()));
        }
        return true;
    }

    bool checkClientConfig(QString* error) const
    {
        if (!isInside(m_request.clientConfig)) {
            return fail(error, QStringLiteral("the client configuration %1 must lie inside the "
                                              "build folder")
                                   .arg(m_request.clientConfig));
        }
        const QFileInfo config(QDir(m_request.buildPath).filePath(m_request.clientConfig));
        if (!checkReadable(QStringLiteral("client configuration"), config, false, error)) {
            return false;
        }
        QFile file(config.filePath());
        QJsonParseError parsing{};
        const QJsonDocument document = file.open(QIODevice::ReadOnly)
                                           ? QJsonDocument::fromJson(file.readAll(), &parsing)
                                           : QJsonDocument();
        if (!document.isObject()) {
            return fail(error, QStringLiteral("client configuration %1 is not a JSON object: %2")
                                   .arg(config.filePath(), parsing.errorString()));
        }
        const QString configured = document.object()
                                       .value(QStringLiteral("client"))
                                       .toObject()
                                       .value(QStringLiteral("version"))
                                       .toString();
        if (configured != m_request.version) {
            return fail(error, QStringLiteral("%1 names client version \"%2\", not \"%3\"; the "
                                              "package must install a client that reports %3")
                                   .arg(config.filePath(), configured, m_request.version));
        }
        return true;
    }

    bool checkReleasesDir(QString* error)
    {
        const QFileInfo dir(m_request.releasesDir);
        if (dir.exists() && !dir.isDir()) {
            return fail(error,
                        QStringLiteral("releases folder %1 is not a folder").arg(dir.filePath()));
        }
        const std::optional<QVector<Release>> existing = readReleases(dir.filePath(), error);
        if (!existing) {
            return false;
        }
        if (QFileInfo::exists(QDir(dir.filePath()).filePath(m_request.version))) {
            return fail(error, QStringLiteral("release %1 already exists in %2")
                                   .arg(m_request.version, dir.filePath()));
        }
        const QString id = packageFileName();
        for (const Release& release : *existing) {
            if (release.id() == id) {
                return fail(error, QStringLiteral("release %1 already has the package %2")
                                       .arg(release.version(), id));
            }
        }
        m_nextSequence = existing->isEmpty() ? 1 : existing->last().sequence + 1;
        return true;
    }

    // Builds in a hidden folder next to the final one, so the rename at the end makes the
    // release appear whole or not at all.
    std::optional<Release> assemble(QString* error) const
    {
        if (!QDir().mkpath(m_request.releasesDir)) {
            fail(error,
                 QStringLiteral("cannot create releases folder %1").arg(m_request.releasesDir));
            return std::nullopt;
        }
        QTemporaryDir staging(QDir(m_request.releasesDir).filePath(".publishing-XXXXXX"));
        if (!staging.isValid()) {
            fail(error, QStringLiteral("cannot write to releases folder %1: %2")
                            .arg(m_request.releasesDir, staging.errorString()));
            return std::nullopt;
        }
        Release release;
        release.folder = staging.path();
        release.sequence = m_nextSequence;
        release.publishedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
        release.packageFile = packageFileName();
        if (!(makePackage(release.packageFilePath(), error) && describe(release, error) &&
              writeRelease(release, error) && writeStaticSite(release, error) &&
              moveIntoPlace(staging, release, error))) {
            return std::nullopt;
        }
        return release;
    }

    bool makePackage(const QString& packagePath, QString* error) const
    {
        if (isZip()) {
            const QString topFolder = QFileInfo(packagePath).completeBaseName();
            return writeFolderZip(m_request.buildPath, topFolder, packagePath, error);
        }
        QFile installer(m_request.buildPath);
        if (!installer.copy(packagePath)) {
            return fail(error, QStringLiteral("cannot copy %1 to %2: %3")
                                   .arg(m_request.buildPath, packagePath, installer.errorString()));
        }
        return true;
    }

    bool describe(Release& release, QString* error) const
    {
        const std::optional<Digests> digests = fileDigests(release.packageFilePath(), error);
        if (!digests) {
            return false;
        }
        ReleaseOffer& offer = release.offer;
        offer.id = release.packageFile;
        offer.updateMode = m_request.updateMode;
        offer.version = m_request.version;
        offer.url = release.packageFile;
        offer.notes = m_request.notesZh + '&' + m_request.notesEn;
        offer.md5 = digests->md5;
        offer.sha1 = digests->sha1;
        offer.packageSize = QFileInfo(release.packageFilePath()).size();
        offer.updateType = ReleaseOffer::updateTypeOf(m_request.kind);
        return !isSigned() || signRelease(release, digests->sha256, error);
    }

    bool signRelease(Release& release, const QString& sha256, QString* error) const
    {
        release.offer.sha256 = sha256;
        release.offer.sequence = release.sequence;
        const Outcome signature = ReleaseSignature::sign(release.offer, m_secretKey);
        if (!signature) {
            return fail(error,
                        QStringLiteral("cannot sign the release: %1").arg(signature.error()));
        }
        return true;
    }

    bool moveIntoPlace(QTemporaryDir& staging, Release& release, QString* error) const
    {
        // A temporary folder is private to its owner; web servers must be able to read it.
        QFile::setPermissions(staging.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadGroup |
                                                  QFile::ExeGroup | QFile::ReadOther |
                                                  QFile::ExeOther);
        const QString target = QDir(m_request.releasesDir).filePath(m_request.version);
        if (!QDir().rename(staging.path(), target)) {
            return fail(error, QStringLiteral("cannot move the release into %1").arg(target));
        }
        staging.setAutoRemove(false);
        release.folder = QFileInfo(target).absoluteFilePath();
        return true;
    }

    const PublishRequest& m_request;
    qint64 m_nextSequence = 1;
    QByteArray m_secretKey;
};

} // namespace

std::optional<Release> publish(const PublishRequest& request, QString* error)
{
    return Publication(request).run(error);
}

} // namespace updateservice
