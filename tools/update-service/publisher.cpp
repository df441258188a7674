#include "publisher.h"

#include "buildfolderwarnings.h"
#include "deltamaker.h"
#include "deltapublisher.h"
#include "packagezip.h"
#include "release/releasesignature.h"
#include "signingkey.h"
#include "staticsite.h"
#include "steps.h"

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

Outcome checkPortable(const QString& what, const QString& text)
{
    if (text.isEmpty()) {
        return Outcome::failure(QStringLiteral("the %1 is empty").arg(what));
    }
    if (!isPortableName(text)) {
        return Outcome::failure(QStringLiteral("the %1 \"%2\" cannot be used in file names and "
                                               "addresses; avoid / \\ : * ? \" < > | # %, control "
                                               "characters and a leading or trailing space or dot")
                                    .arg(what, text));
    }
    return Outcome::success();
}

Outcome checkReadable(const QString& what, const QFileInfo& info, bool folder)
{
    if (!info.exists()) {
        return Outcome::failure(QStringLiteral("%1 %2 does not exist").arg(what, info.filePath()));
    }
    if (info.isDir() != folder) {
        return Outcome::failure(QStringLiteral("%1 %2 is not a %3")
                                    .arg(what, info.filePath(), folder ? "folder" : "file"));
    }
    if (!info.isReadable()) {
        return Outcome::failure(QStringLiteral("cannot read %1 %2").arg(what, info.filePath()));
    }
    return Outcome::success();
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

Result<Digests> fileDigests(const QString& path)
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
        return Result<Digests>::failure(
            QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    }
    return Digests{QString::fromLatin1(md5.result().toHex()),
                   QString::fromLatin1(sha1.result().toHex()),
                   QString::fromLatin1(sha256.result().toHex())};
}

class Publication
{
public:
    explicit Publication(const PublishRequest& request) : m_request(request) {}

    Result<Release> run()
    {
        const Outcome ready =
            inTurn([this] { return checkRequest(); }, [this] { return loadSigningKey(); },
                   [this] { return checkBuild(); }, [this] { return checkReleasesDir(); });
        if (!ready) {
            return Result<Release>::failure(ready.error());
        }
        const bool releasesDirIsNew = !QFileInfo::exists(m_request.releasesDir);
        Result<Release> release = assemble();
        if (!release && releasesDirIsNew) {
            QDir().rmdir(m_request.releasesDir);
        }
        if (release && isZip()) {
            release.value().warnings = absoluteAppPaths(m_request.buildPath);
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

    Outcome checkRequest() const
    {
        if (m_request.notesZh.contains('&') || m_request.notesEn.contains('&')) {
            return Outcome::failure(QStringLiteral("the release notes must not contain \"&\", "
                                                   "which separates the Chinese from the English "
                                                   "notes"));
        }
        if (m_request.updateMode != QLatin1String("1") &&
            m_request.updateMode != QLatin1String("2")) {
            return Outcome::failure(QStringLiteral("the update mode must be 1 or 2, not \"%1\"")
                                        .arg(m_request.updateMode));
        }
        if (m_request.releasesDir.isEmpty()) {
            return Outcome::failure(QStringLiteral("no releases folder given"));
        }
        return inTurn(
            [this] { return checkPortable(QStringLiteral("version"), m_request.version); },
            [this] { return checkPortable(QStringLiteral("package name"), m_request.name); });
    }

    bool isSigned() const { return !m_request.signingKeyPath.isEmpty(); }

    Outcome loadSigningKey()
    {
        if (!isSigned()) {
            return Outcome::success();
        }
        const Result<QByteArray> key = readSecretKey(m_request.signingKeyPath);
        if (!key) {
            return Outcome::failure(key.error());
        }
        m_secretKey = key.value();
        return Outcome::success();
    }

    Outcome checkBuild() const
    {
        const QFileInfo build(m_request.buildPath);
        if (!isZip()) {
            return inTurn([&] { return checkReadable(QStringLiteral("installer"), build, false); },
                          [&] { return checkSize(build); });
        }
        return inTurn([&] { return checkReadable(QStringLiteral("build folder"), build, true); },
                      [this] { return checkClientConfig(); });
    }

    Outcome checkSize(const QFileInfo& package) const
    {
        if (package.size() > kMaxPackageSize) {
            return Outcome::failure(QStringLiteral("%1 is larger than a package may be (2 GiB)")
                                        .arg(package.filePath()));
        }
        return Outcome::success();
    }

    Outcome checkClientConfig() const
    {
        if (!isInside(m_request.clientConfig)) {
            return Outcome::failure(QStringLiteral("the client configuration %1 must lie inside "
                                                   "the build folder")
                                        .arg(m_request.clientConfig));
        }
        const QFileInfo config(QDir(m_request.buildPath).filePath(m_request.clientConfig));
        return inTurn(
            [&] { return checkReadable(QStringLiteral("client configuration"), config, false); },
            [&] { return checkConfiguredVersion(config.filePath()); });
    }

    Outcome checkConfiguredVersion(const QString& configPath) const
    {
        QFile file(configPath);
        QJsonParseError parsing{};
        const QJsonDocument document = file.open(QIODevice::ReadOnly)
                                           ? QJsonDocument::fromJson(file.readAll(), &parsing)
                                           : QJsonDocument();
        if (!document.isObject()) {
            return Outcome::failure(QStringLiteral("client configuration %1 is not a JSON "
                                                   "object: %2")
                                        .arg(configPath, parsing.errorString()));
        }
        const QString configured = document.object()
                                       .value(QStringLiteral("client"))
                                       .toObject()
                                       .value(QStringLiteral("version"))
                                       .toString();
        if (configured != m_request.version) {
            return Outcome::failure(QStringLiteral("%1 names client version \"%2\", not \"%3\"; "
                                                   "the package must install a client that "
                                                   "reports %3")
                                        .arg(configPath, configured, m_request.version));
        }
        return Outcome::success();
    }

    Outcome checkReleasesDir()
    {
        const QFileInfo dir(m_request.releasesDir);
        if (dir.exists() && !dir.isDir()) {
            return Outcome::failure(
                QStringLiteral("releases folder %1 is not a folder").arg(dir.filePath()));
        }
        const Result<QVector<Release>> existing = readReleases(dir.filePath());
        if (!existing) {
            return Outcome::failure(existing.error());
        }
        const Outcome unpublished = checkUnpublished(dir.filePath(), existing.value());
        if (unpublished) {
            m_nextSequence = existing->isEmpty() ? 1 : existing->last().sequence + 1;
            m_existing = existing.value();
        }
        return unpublished;
    }

    // Neither the version nor the package file may be published twice.
    Outcome checkUnpublished(const QString& releasesDir, const QVector<Release>& existing) const
    {
        if (QFileInfo::exists(QDir(releasesDir).filePath(m_request.version))) {
            return Outcome::failure(QStringLiteral("release %1 already exists in %2")
                                        .arg(m_request.version, releasesDir));
        }
        const QString id = packageFileName();
        for (const Release& release : existing) {
            if (release.id() == id) {
                return Outcome::failure(QStringLiteral("release %1 already has the package %2")
                                            .arg(release.version(), id));
            }
        }
        return Outcome::success();
    }

    // Builds in a hidden folder next to the final one, so the rename at the end makes the
    // release appear whole or not at all.
    Result<Release> assemble() const
    {
        if (!QDir().mkpath(m_request.releasesDir)) {
            return Result<Release>::failure(
                QStringLiteral("cannot create releases folder %1").arg(m_request.releasesDir));
        }
        QTemporaryDir staging(QDir(m_request.releasesDir).filePath(".publishing-XXXXXX"));
        if (!staging.isValid()) {
            return Result<Release>::failure(QStringLiteral("cannot write to releases folder %1: %2")
                                                .arg(m_request.releasesDir, staging.errorString()));
        }
        Release release = draft(staging.path());
        const Outcome made =
            inTurn([&] { return makePackage(release.packageFilePath()); },
                   [&] { return writeManifest(release); }, [&] { return makeDeltas(release); },
                   [&] { return describe(release); }, [&] { return writeRelease(release); },
                   [&] { return writeStaticSite(release); },
                   [&] { return moveIntoPlace(staging, release); });
        if (!made) {
            return Result<Release>::failure(made.error());
        }
        return release;
    }

    // The release taking shape in folder, not yet described by its package.
    Release draft(const QString& folder) const
    {
        Release release;
        release.folder = folder;
        release.sequence = m_nextSequence;
        release.publishedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
        release.packageFile = packageFileName();
        return release;
    }

    Outcome makePackage(const QString& packagePath) const
    {
        if (isZip()) {
            const QString topFolder = QFileInfo(packagePath).completeBaseName();
            return writeFolderZip(m_request.buildPath, topFolder, packagePath);
        }
        QFile installer(m_request.buildPath);
        if (!installer.copy(packagePath)) {
            return Outcome::failure(
                QStringLiteral("cannot copy %1 to %2: %3")
                    .arg(m_request.buildPath, packagePath, installer.errorString()));
        }
        return Outcome::success();
    }

    QString stem() const { return m_request.name + '_' + m_request.version; }

    // Lists every file of the build, so that the updater can check what it installs, file by
    // file, against what the release vouches for.
    Outcome writeManifest(Release& release) const
    {
        if (!isZip())
            return Outcome::success();
        const QString path =
            QDir(release.folder).filePath(stem() + QStringLiteral(".manifest.json"));
        const Result<QString> sha256 = writeReleaseManifest(m_request.buildPath, path);
        if (!sha256)
            return Outcome::failure(
                QStringLiteral("cannot write the release's manifest: %1").arg(sha256.error()));
        release.offer.manifestSha256 = sha256.value();
        return Outcome::success();
    }

    Outcome makeDeltas(Release& release) const
    {
        if (!isZip() || m_request.deltas <= 0)
            return Outcome::success();
        const DeltaPublishing publishing{
            m_existing,          m_request.name, m_request.version,
            m_request.buildPath, release.folder, QFileInfo(release.packageFilePath()).size(),
            m_request.deltas};
        const Result<PublishedDeltas> deltas = publishDeltas(publishing);
        if (!deltas)
            return Outcome::failure(deltas.error());
        release.offer.deltas = deltas->offers;
        release.deltaSizes = deltas->sizes;
        return Outcome::success();
    }

    Outcome describe(Release& release) const
    {
        const Result<Digests> digests = fileDigests(release.packageFilePath());
        if (!digests) {
            return Outcome::failure(digests.error());
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
        return isSigned() ? signRelease(release, digests->sha256) : Outcome::success();
    }

    Outcome signRelease(Release& release, const QString& sha256) const
    {
        release.offer.sha256 = sha256;
        release.offer.sequence = release.sequence;
        const Outcome signature = ReleaseSignature::sign(release.offer, m_secretKey);
        if (!signature) {
            return Outcome::failure(
                QStringLiteral("cannot sign the release: %1").arg(signature.error()));
        }
        return Outcome::success();
    }

    Outcome moveIntoPlace(QTemporaryDir& staging, Release& release) const
    {
        // A temporary folder is private to its owner; web servers must be able to read it.
        QFile::setPermissions(staging.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadGroup |
                                                  QFile::ExeGroup | QFile::ReadOther |
                                                  QFile::ExeOther);
        const QString target = QDir(m_request.releasesDir).filePath(m_request.version);
        if (!QDir().rename(staging.path(), target)) {
            return Outcome::failure(QStringLiteral("cannot move the release into %1").arg(target));
        }
        staging.setAutoRemove(false);
        release.folder = QFileInfo(target).absoluteFilePath();
        return Outcome::success();
    }

    const PublishRequest& m_request;
    qint64 m_nextSequence = 1;
    QVector<Release> m_existing;
    QByteArray m_secretKey;
};

} // namespace

Result<Release> publish(const PublishRequest& request)
{
    return Publication(request).run();
}

} // namespace updateservice
