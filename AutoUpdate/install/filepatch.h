#pragma once

#include "base/result.h"
#include "install/deltaplan.h"

#include <QString>

// A patch is one zstd frame that declares its content size. Of kind "patch", it is made with the
// old file as its prefix and long-distance matching, as "zstd --long --patch-from=old new" makes
// it, and its content is the new file. Of kind "diff", its content is a DiffStream against the old
// file.
namespace FilePatch {

// The largest window a patch may ask for: zstd's default limit for streaming decoders, and what
// "--long" uses. The decoder's buffer is the smaller of the window and the file it makes.
constexpr int kMaxWindowLog = 27;

// Why the patch of the kind cannot make a file of expectedSize, from its frame header alone; empty
// when it declares its size, and for a patch of kind "patch" that size.
QString headerFault(DeltaPlan::Kind kind, const QString& patchPath, qint64 expectedSize);

// Writes outputPath, a new file, from the patch of the kind applied to the reference file, which
// is mapped rather than read into memory. The output is streamed in blocks and must come out with
// the expected size and SHA-256; on any failure it is removed again.
Outcome apply(DeltaPlan::Kind kind, const QString& referencePath, const QString& patchPath,
              const QString& outputPath, qint64 expectedSize, const QString& expectedSha256);

} // namespace FilePatch
