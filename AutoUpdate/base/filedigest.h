#pragma once

#include "base/result.h"

#include <QString>

namespace FileDigest {

// The file's SHA-256 in lower-case hexadecimal, read in blocks.
Result<QString> sha256(const QString& path);

} // namespace FileDigest
