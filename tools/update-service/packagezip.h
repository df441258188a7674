#pragma once

#include "base/result.h"

#include <QString>

#include <limits>

namespace updateservice {

// Largest package a check answer can announce: its "packageSize" is a 32-bit signed integer.
inline constexpr qint64 kMaxPackageSize = std::numeric_limits<qint32>::max();

// Zips the tree of folder into zipPath the way the updater unpacks it: everything below the one
// top folder topFolder, and a directory entry for every folder ahead of the files in it, since
// the updater creates folders only from those entries. Refuses symbolic links, which the updater
// would skip, and packages larger than kMaxPackageSize. zipPath may be left half-written on
// failure.
Outcome writeFolderZip(const QString& folder, const QString& topFolder, const QString& zipPath);

} // namespace updateservice
