#pragma once

#include "base/result.h"
#include "install/deltaplan.h"

#include <QString>
#include <QVector>

namespace updateservice {

struct DeltaRequest
{
    // The release before, as installed or as its package's top folder unpacked, and the new one.
    QString oldTree;
    QString newTree;
    QString fromVersion;
    QString toVersion;
    // The package to write, "<name>.zip": its entries lie below the top folder "<name>".
    QString deltaPath;
};

// What the delta holds for a file that changed or is new.
struct DeltaFile
{
    QString path;
    DeltaPlan::Kind kind = DeltaPlan::Kind::Whole;
    qint64 size = 0;
    // The patch against the old file (-1 for a new file) and the file deflated.
    qint64 patchBytes = -1;
    qint64 deflatedBytes = 0;
};

struct DeltaSummary
{
    QVector<DeltaFile> files;
    int unchanged = 0;
    int dropped = 0;
    // The package's size in bytes.
    qint64 size = 0;
    // The package's plan, published beside it: the updater fetches it before the package.
    QByteArray plan;
};

// Writes the delta package that turns oldTree into newTree (see DeltaPlan): per changed file
// the smaller of a zstd patch (the strongest level, long-distance matching, a window covering the
// old and the new file up to FilePatch::kMaxWindowLog) and the file deflated, new files deflated,
// the list of dropped files and the new release's manifest. Refuses trees holding links. Nothing is
// left at deltaPath when it fails.
Result<DeltaSummary> makeDelta(const DeltaRequest& request);

// Writes the manifest of the release in tree to path; hands back the SHA-256 of its bytes in
// lower-case hexadecimal, which a signed release names.
Result<QString> writeReleaseManifest(const QString& tree, const QString& path);

} // namespace updateservice
