#include "releasecatalogue.h"

#include "updateservice.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace updateservice {

namespace {

// Empty when the body is not a check request.
QString clientVersion(const QByteArray& requestBody)
{
    return QJsonDocument::fromJson(requestBody)
        .object()
        .value(QStringLiteral("clientVersion"))
        .toString();
}

// The package and the deltas with their plans, each under its own file name.
Outcome serveFiles(UpdateService& service, const Release& release)
{
    QStringList names{release.id()};
    for (const DeltaOffer& delta : release.offer.deltas)
        names << delta.url << delta.planUrl;
    for (const QString& name : names) {
        const QString path =
            name == release.id() ? release.packageFilePath() : QDir(release.folder).filePath(name);
        const Outcome added = service.addPackageFile(name, path);
        if (!added)
            return added;
    }
    return Outcome::success();
}

} // namespace

Result<ReleaseCatalogue> ReleaseCatalogue::load(const QString& releasesDir)
{
    if (!QFileInfo(releasesDir).isDir()) {
        return Result<ReleaseCatalogue>::failure(
            QStringLiteral("releases folder %1 does not exist").arg(releasesDir));
    }
    Result<QVector<Release>> releases = readReleases(releasesDir);
    if (!releases) {
        return Result<ReleaseCatalogue>::failure(releases.error());
    }
    if (releases->isEmpty()) {
        return Result<ReleaseCatalogue>::failure(
            QStringLiteral("%1 holds no release; publish one first").arg(releasesDir));
    }
    return ReleaseCatalogue(std::move(releases.value()));
}

Outcome ReleaseCatalogue::serveWith(UpdateService& service) const
{
    for (const Release& release : m_releases) {
        const Outcome added = serveFiles(service, release);
        if (!added) {
            return added;
        }
    }
    // Answers are made up front: the responder runs on several service threads at once.
    const QString newestVersion = newest().version();
    const QByteArray offer = checkAnswer(newest(), QString());
    const QByteArray upToDate = checkAnswer(newest(), newest().version());
    service.setCheckResponder([=](const QByteArray& requestBody) {
        const bool current = clientVersion(requestBody) == newestVersion;
        return CheckResponse{200, current ? upToDate : offer, kJsonContentType};
    });
    return Outcome::success();
}

} // namespace updateservice
