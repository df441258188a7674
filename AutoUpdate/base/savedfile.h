#ifndef SAVEDFILE_H
#define SAVEDFILE_H

#include <QByteArray>
#include <QString>

// Replacing a small file's whole content so that a crash, a full disk or a failed write never
// leaves half a file: the content goes to a temporary file that is renamed over the old one only
// when every byte of it has reached the disk.
namespace SavedFile {

// False, with the QFileDevice::FileError in *errorCode, when the file was left as it was.
bool write(const QString& path, const QByteArray& content, int* errorCode);

} // namespace SavedFile

#endif // SAVEDFILE_H
