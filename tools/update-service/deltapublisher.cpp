#include "deltapublisher.h"

#include "deltamaker.h"
#include "fileio.h"
#include "install/packageunpacker.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>

namespace updateservice {

namespace {

QString sha256Of(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

Result<QString> fileSha256(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return Result<QString>::failure(
            QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    return QString::fromLatin1(hash.result().toHex());
}

bool isZipOfClient(const Release& release, const QString& name)
{
    return release.offer.packageKind() == PackageKind::Zip &&
           release.packageFile == name + '_' + release.version() + QStringLiteral(".zip");
}

// The latest releases of the client, newest first.
QVector<Release> basesFor(const DeltaPublishing& publishing)
{
    QVector<Release> bases;
    for (auto it = publishing.earlier.crbegin();
         it != publishing.earlier.crend() && bases.size() < publishing.count; ++it) {
        if (isZipOfClient(*it, publishing.name) && it->version() != publishing.version)
            bases.append(*it);
    }
    return bases;
}

class DeltaPublisher
{
public:
    explicit DeltaPublisher(const DeltaPublishing& publishing) : m_publishing(publishing) {}

    Result<PublishedDeltas> run()
    {
        for (const Release& base : basesFor(m_publishing)) {
            const Outcome made = publishFrom(base);
            if (!made)
                return Result<PublishedDeltas>::failure(made.error());
        }
        return m_published;
    }

private:
    QString stemFrom(const QString& oldVersion) const
    {
        return m_publishing.name + '_' + m_publishing.version + QStringLiteral("_from_") +
               oldVersion;
    }

    Outcome publishFrom(const Release& base)
    {
        QTemporaryDir unpacked(QDir(m_publishing.folder).filePath(".old-XXXXXX"));
        if (!unpacked.isValid())
            return Outcome::failure(QStringLiteral("cannot unpack release %1: %2")
                                        .arg(base.version(), unpacked.errorString()));
        const Result<QString> oldTree = unpack(base, unpacked.path());
        if (!oldTree)
            return Outcome::failure(oldTree.error());
        const QString stem = stemFrom(base.version());
        const DeltaRequest request{oldTree.value(), m_publishing.buildPath, base.version(),
                                   m_publishing.version,
                                   QDir(m_publishing.folder).filePath(stem + ".zip")};
        const Result<DeltaSummary> summary = makeDelta(request);
        if (!summary)
            return Outcome::failure(QStringLiteral("cannot make the delta from %1: %2")
                                        .arg(base.version(), summary.error()));
        return offer(base.version(), stem, summary.value());
    }

    Result<QString> unpack(const Release& base, const QString& folder) const
    {
        const QString package = base.packageFilePath();
        const qint64 room = QStorageInfo(folder).bytesAvailable();
        if (PackageUnpacker(package, folder + '/').unpack(room) !=
            PackageUnpacker::Result::Unpacked)
            return Result<QString>::failure(
                QStringLiteral("cannot unpack the package %1 of release %2")
                    .arg(package, base.version()));
        return QDir(folder).filePath(PackageUnpacker::topFolderName(package));
    }

    Outcome offer(const QString& oldVersion, const QString& stem, const DeltaSummary& summary)
    {
        const qint64 full = m_publishing.fullPackageSize;
        const QString deltaFile = stem + QStringLiteral(".zip");
        const QString line = QStringLiteral("delta from %1: %2 bytes, %3 % of the full package's "
                                            "%4 bytes")
                                 .arg(oldVersion)
                                 .arg(summary.size)
                                 .arg(full > 0 ? 100.0 * summary.size / full : 0.0, 0, 'f', 1)
                                 .arg(full);
        if (summary.size * 100 > full * kMaxDeltaPercent) {
            QFile::remove(QDir(m_publishing.folder).filePath(deltaFile));
            m_published.sizes.append(
                line + QStringLiteral(", not offered (above %1 %)").arg(kMaxDeltaPercent));
            return Outcome::success();
        }
        const QString planFile = stem + QStringLiteral(".plan.json");
        const Outcome written =
            writeWholeFile(QDir(m_publishing.folder).filePath(planFile), summary.plan);
        if (!written)
            return written;
        const Result<QString> sha256 = fileSha256(QDir(m_publishing.folder).filePath(deltaFile));
        if (!sha256)
            return Outcome::failure(sha256.error());
        m_published.offers.append({oldVersion, deltaFile, summary.size, sha256.value(), planFile,
                                   summary.plan.size(), sha256Of(summary.plan)});
        m_published.sizes.append(line + QStringLiteral(", ") + deltaFile);
        return Outcome::success();
    }

    const DeltaPublishing& m_publishing;
    PublishedDeltas m_published;
};

} // namespace

Result<PublishedDeltas> publishDeltas(const DeltaPublishing& publishing)
{
    return DeltaPublisher(publishing).run();
}

} // namespace updateservice
