#pragma once

#include "base/result.h"

#include <QString>

// A patch is one zstd frame made with the old file as its prefix and long-distance matching, as
// "zstd -19 --long --patch-from=old new" makes it. It must declare its content size.
namespace FilePatch {

// The largest window a patch may ask for: zstd's default limit for streaming decoders, and what
// "--long" uses. The decoder's buffer is the smaller of the window and the file it makes.
constexpr int kMaxWindowLog = 27;

// Why the patch cannot make a file of expectedSize, from its frame header alone; empty when it
// declares that size.
QString headerFault(const QString& patchPath, qint64 expectedSize);

// Writes outputPath, a new file, from the patch applied to the reference file, which is mapped
// rather than read into memory. The output is streamed in blocks and must come out with the
// expected size and SHA-256; on any failure it is removed again.
Outcome apply(const QString& referencePath, const QString& patchPath, const QString& outputPath,
              qint64 expectedSize, const QString& expectedSha256);

} // namespace FilePatch
