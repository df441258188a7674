#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QString>

// Replacing a small file's whole content so that a crash, a full disk or a failed write never
// leaves half a file: the content goes to a temporary file that is renamed over the old one only
// when every byte of it has reached the disk.
namespace SavedFile {

// A failure, with the QFileDevice::FileError as its code, leaves the file as it was.
Outcome write(const QString& path, const QByteArray& content);

} // namespace SavedFile
