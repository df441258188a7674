#include "releasecatalogue.h"

#include "fileio.h"
#include "updateservice.h"

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

} // namespace

std::optional<ReleaseCatalogue> ReleaseCatalogue::load(const QString& releasesDir, QString* error)
{
    if (!QFileInfo(releasesDir).isDir()) {
        fail(error, QStringLiteral("releases folder %1 does not exist").arg(releasesDir));
        return std::nullopt;
    }
    std::optional<QVector<Release>> releases = readReleases(releasesDir, error);
    if (!releases) {
        return std::nullopt;
    }
    if (releases->isEmpty()) {
        fail(error, QStringLiteral("%1 holds no release; publish one first").arg(releasesDir));
        return std::nullopt;
    }
    return ReleaseCatalogue(std::move(*releases));
}

bool ReleaseCatalogue::serveWith(UpdateService& service, QString* error) const
{
    for (const Release& release : m_releases) {
        const Outcome added = service.addPackageFile(release.id(), release.packageFilePath());
        if (!added) {
            return fail(error, added.error());
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
    return true;
}

} // namespace updateservice
