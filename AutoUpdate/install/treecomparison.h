#pragma once

#include <QString>
#include <QStringList>

// Whether files copied from one folder to another came out the same: size first, then a checksum
// of the whole content.
namespace TreeComparison {

// The files below folder, relative to it with "/" separators, sorted; hidden files included. None
// below a path that holds a NUL.
QStringList filesBelow(const QString& folder);
// The folders below folder, in the same form.
QStringList foldersBelow(const QString& folder);
// The first of relativePaths whose file below target is missing, unreadable, or differs from its
// namesake below source in size or checksum; an empty text when every one is the same.
QString firstDifference(const QString& source, const QString& target,
                        const QStringList& relativePaths);

} // namespace TreeComparison
