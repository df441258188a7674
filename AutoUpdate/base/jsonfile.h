#ifndef JSONFILE_H
#define JSONFILE_H

#include <QJsonObject>
#include <QString>

// Reading and replacing the small JSON files that hold the updater's and the client's state.
namespace JsonFile {

struct ReadResult
{
    enum Status { Ok, Missing, OpenFailed, ParseFailed };
    Status status = Missing;
    int errorCode = 0; // QFileDevice::FileError, or QJsonParseError::ParseError
    QJsonObject object;
};

ReadResult read(const QString& path);

// The object a file's content is to be changed from: the parsed file (an empty object when it is
// not JSON), or an empty object when there is no file yet. False, with the file error in
// *errorCode, when an existing file cannot be opened for reading and writing; such a file must be
// left as it is.
bool readForChange(const QString& path, QJsonObject* object, int* errorCode);

// Replaces the file's whole content with the indented object. The new content goes to a temporary
// file that is renamed over the old one, so a crash in the middle never leaves half a file.
bool replace(const QString& path, const QJsonObject& object, int* errorCode);

} // namespace JsonFile

#endif // JSONFILE_H
