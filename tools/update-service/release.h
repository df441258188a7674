#pragma once

#include "base/result.h"
#include "release/releaseoffer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace updateservice {

inline constexpr const char* kReleaseFileName = "release.json";

// A published release as its folder describes it in release.json. The folder also holds the
// package file.
struct Release
{
    QString folder;
    // Counts publications in one releases folder; the highest is the newest release. Versions
    // are never ordered, so this is the only notion of "newer".
    qint64 sequence = 0;
    QString publishedAt; // UTC, for people reading the file
    QString packageFile; // name inside folder
    // What the check answer offering this release says of it; release.json keeps it as the
    // answer's "biz" object.
    ReleaseOffer offer;
    // What publish noticed that may not be what the publisher meant; not kept in release.json.
    QStringList warnings;
    // What publish made of each delta: its size beside the full package's; not kept either.
    QStringList deltaSizes;

    QString version() const { return offer.version; }
    QString id() const { return offer.id; }
    QString packageFilePath() const;
};

// The complete check answer offering release, compact. A client already running its version
// gets "update" "0".
QByteArray checkAnswer(const Release& release, const QString& clientVersion);

// Writes release.json into release.folder.
Outcome writeRelease(const Release& release);
Result<Release> readRelease(const QString& folder);
// Every release below releasesDir, oldest first. Only folders holding release.json count, and
// hidden ones never: they are publications still in progress. A missing folder holds none.
Result<QVector<Release>> readReleases(const QString& releasesDir);

} // namespace updateservice
