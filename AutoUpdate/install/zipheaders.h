#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QIODevice;

// A zip archive describes each entry twice: in its central directory record, by which libzip
// finds and unpacks it, and in the local header in front of its data, which tools that stream an
// archive read instead. Where the two disagree, the archive is one thing to libzip and another
// to such a tool. With ZIP_CHECKCONS libzip compares their compression methods and sizes, but not
// their flags, the encryption bit among them; here all three are compared, before libzip opens
// the archive, so that the entry at fault can be named.
namespace ZipHeaders {

struct Fault
{
    // The entry's name as stored; none when the fault is the archive's own.
    std::optional<QByteArray> entryName;
    QString reason;
};

// The number of entries of the archive, when it has exactly one end of central directory record,
// at most maxEntries entries, and each entry's local header agrees with its central directory
// record in flags, compression method and sizes. The sizes of a local header may also all be 0
// with the data descriptor flag set: they then follow the data. The central directory is read a
// record at a time, never more than 128 KiB at once.
Result<quint64, Fault> check(QIODevice& archive, quint64 maxEntries);

} // namespace ZipHeaders
