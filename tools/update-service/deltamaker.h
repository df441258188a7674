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
    // What the delta holds for it: the smallest of its patch, its diff and the file deflated.
    qint64 bytes = 0;
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
// the smallest of a diff (see filediff.h), a zstd patch (the strongest level, long-distance
// matching, a window covering the old and the new file up to FilePatch::kMaxWindowLog) and the file
// deflated; new files deflated; and the new release's manifest. The plan, handed back, also names
// the dropped files. Refuses trees holding links. Nothing is left at deltaPath when it fails.
Result<DeltaSummary> makeDelta(const DeltaRequest& request);

// Writes the manifest of the release in tree to path; hands back the SHA-256 of its bytes in
// lower-case hexadecimal, which a signed release names.
Result<QString> writeReleaseManifest(const QString& tree, const QString& path);

} // namespace updateservice
