#pragma once

#include <QString>

// Paths that come from outside the program (package entries, a manifest, the install journal)
// name files below a folder the program chooses. This is the rule such a path must pass before
// it is joined to that folder.
namespace RelativePath {

// Why path cannot name something below a folder: empty, absolute, naming a drive, climbing out
// with "..", or holding a control character (NUL included). An empty text when it can.
QString unsafeReason(const QString& path);

// The path as the file system will see it: separators made "/", "." and doubled separators
// gone. Two paths that come out equal here name the same file.
QString clean(const QString& path);

// The key under which the file system tells cleaned paths apart: the path itself, case-folded on
// Windows, whose names ignore case.
QString fileKey(const QString& cleanPath);

} // namespace RelativePath
