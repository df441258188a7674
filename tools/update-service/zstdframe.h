#pragma once

#include "base/result.h"

#include <QtGlobal>

#include <vector>

namespace updateservice {

// One zstd frame of data at zstd's strongest level, with long-distance matching, declaring its
// content size: a delta is made once and fetched by every client of the old release. Its window
// covers the prefix and the data, up to the largest the updater's decoder takes
// (FilePatch::kMaxWindowLog). prefix: the old file a patch refers to, or none.
Result<std::vector<char>> zstdFrame(const uchar* data, qint64 size, const uchar* prefix = nullptr,
                                    qint64 prefixSize = 0);

} // namespace updateservice
