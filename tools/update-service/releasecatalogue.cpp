#include "releasecatalogue.h"

#include "fileio.h"
#include "updateservice.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace updateservice {

namespace {

// Empty when the body is not a check request.
std::string clientVersion(const std::string& requestBody)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(requestBody))
        .object()
        .value(QStringLiteral("clientVersion"))
        .toString()
        .toStdString();
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
    for (const Release& release : releases_) {
        if (!service.addPackageFile(release.id().toStdString(),
                                    QFile::encodeName(release.packageFilePath()).toStdString())) {
            return fail(error,
                        QStringLiteral("cannot read package %1").arg(release.packageFilePath()));
        }
    }
    // Answers are made up front: the responder runs on several service threads at once.
    const std::string newestVersion = newest().version().toStdString();
    const std::string offer = checkAnswer(newest(), QString()).toStdString();
    const std::string upToDate = checkAnswer(newest(), newest().version()).toStdString();
    service.setCheckResponder([=](const RecordedRequest& request) {
        const bool current = clientVersion(request.body) == newestVersion;
        return CheckResponse{200, current ? upToDate : offer, kJsonContentType};
    });
    return true;
}

} // namespace updateservice
