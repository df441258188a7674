#pragma once

#include "base/result.h"

#include <QtGlobal>

#include <vector>

namespace updateservice {

// The largest old file a diff is made against: its suffix array takes four bytes a byte.
constexpr qint64 kMaxDiffedFileSize = qint64(512) << 20;

// A patch of kind "diff" (see DiffStream) that turns the old bytes into the new ones: one zstd
// frame at the strongest level that declares its content size. The old file is matched through
// its suffix array: for each stretch of the new file, the old stretch that agrees with it in the
// most bytes, extended over the bytes around it while more agree than differ.
Result<std::vector<char>> diffOf(const uchar* oldData, qint64 oldSize, const uchar* newData,
                                 qint64 newSize);

} // namespace updateservice
