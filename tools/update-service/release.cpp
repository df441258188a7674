#include "release.h"

#include "fileio.h"
#include "release/answerfields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>

namespace updateservice {

namespace {

const QString kSequenceKey = QStringLiteral("sequence");
const QString kPublishedAtKey = QStringLiteral("publishedAt");
const QString kPackageFileKey = QStringLiteral("packageFile");
const QString kBizKey = QStringLiteral("biz");

QString describe(const QString& folder)
{
    return QDir(folder).filePath(kReleaseFileName);
}

// Fails with what the description lacks.
Outcome checkComplete(const Release& release)
{
    if (release.sequence <= 0) {
        return Outcome::failure(QStringLiteral("no positive \"sequence\""));
    }
    if (release.version().isEmpty() || release.id().isEmpty()) {
        return Outcome::failure(QStringLiteral("no \"biz\" with \"latestVersion\" and \"id\""));
    }
    if (release.packageFile.isEmpty() || !QFileInfo(release.packageFilePath()).isFile()) {
        return Outcome::failure(QStringLiteral("its \"packageFile\" is not in the folder"));
    }
    return Outcome::success();
}

} // namespace

QString Release::packageFilePath() const
{
    return QDir(folder).filePath(packageFile);
}

QByteArray checkAnswer(const Release& release, const QString& clientVersion)
{
    ReleaseOffer offer = release.offer;
    if (clientVersion == release.version()) {
        offer.updateMode = QStringLiteral("0");
    }
    const QJsonObject answer{{QStringLiteral("code"), QStringLiteral("000000")},
                             {QStringLiteral("desc"), QString()},
                             {kBizKey, AnswerFields::toBiz(offer)}};
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

Outcome writeRelease(const Release& release)
{
    const QJsonObject description{{kSequenceKey, release.sequence},
                                  {kPublishedAtKey, release.publishedAt},
                                  {kPackageFileKey, release.packageFile},
                                  {kBizKey, AnswerFields::toBiz(release.offer)}};
    return writeWholeFile(describe(release.folder), QJsonDocument(description).toJson());
}

Result<Release> readRelease(const QString& folder)
{
    QFile file(describe(folder));
    if (!file.open(QIODevice::ReadOnly)) {
        return Result<Release>::failure(
            QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
    }
    const QJsonObject description = QJsonDocument::fromJson(file.readAll()).object();
    Release release{QFileInfo(folder).absoluteFilePath(),
                    description.value(kSequenceKey).toVariant().toLongLong(),
                    description.value(kPublishedAtKey).toString(),
                    description.value(kPackageFileKey).toString(),
                    AnswerFields::fromBiz(description.value(kBizKey).toObject()),
                    {},
                    {}};
    const Outcome complete = checkComplete(release);
    if (!complete) {
        return Result<Release>::failure(QStringLiteral("%1 is not a release description: %2")
                                            .arg(file.fileName(), complete.error()));
    }
    return release;
}

Result<QVector<Release>> readReleases(const QString& releasesDir)
{
    QVector<Release> releases;
    const QDir dir(releasesDir);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!QFileInfo::exists(describe(dir.filePath(name)))) {
            continue;
        }
        const Result<Release> release = readRelease(dir.filePath(name));
        if (!release) {
            return Result<QVector<Release>>::failure(release.error());
        }
        releases.append(release.value());
    }
    std::sort(releases.begin(), releases.end(),
              [](const Release& a, const Release& b) { return a.sequence < b.sequence; });
    return releases;
}

} // namespace updateservice
