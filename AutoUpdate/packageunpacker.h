#ifndef PACKAGEUNPACKER_H
#define PACKAGEUNPACKER_H

#include <QString>

// Unpacks a zip package into a folder. A package can come from a compromised or spoofed service,
// so every entry is looked at before anything is written: one entry that could land outside the
// folder refuses the whole package. Symbolic links are never created nor written through.
namespace PackageUnpacker {

enum class Result { Unpacked, UnsafeEntry, WriteFailed };

// folder ends with "/". Folders come only from directory entries, in archive order; a file whose
// folder has no entry before it cannot be written. A missing or unreadable archive unpacks
// nothing and counts as unpacked.
Result unpack(const QString& packagePath, const QString& folder);

// Why an entry name is refused, or an empty text when it may be unpacked into folder.
QString unsafeEntryReason(const QString& entryName, const QString& folder);

} // namespace PackageUnpacker

#endif // PACKAGEUNPACKER_H
