#pragma once

#include "base/result.h"
#include "release.h"
#include "release/releaseoffer.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace updateservice {

// A delta larger than this share of the full package saves too little to be offered.
constexpr int kMaxDeltaPercent = 60;

struct DeltaPublishing
{
    // Every release published before, oldest first; only the latest zip releases of the same
    // client count.
    QVector<Release> earlier;
    // The package name and the new release's version and client build folder.
    QString name;
    QString version;
    QString buildPath;
    // Where the deltas and their plans are written, beside the new package.
    QString folder;
    qint64 fullPackageSize = 0;
    int count = 0;
};

struct PublishedDeltas
{
    QVector<DeltaOffer> offers;
    // One line per delta made: its size beside the full package's, and whether it is offered.
    QStringList sizes;
};

// Makes "<name>_<version>_from_<old>.zip" and its plan "<name>_<version>_from_<old>.plan.json"
// for each of the latest count earlier releases; a delta above kMaxDeltaPercent of the full
// package is removed again and not offered.
Result<PublishedDeltas> publishDeltas(const DeltaPublishing& publishing);

} // namespace updateservice
