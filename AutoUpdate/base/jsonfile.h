#pragma once

#include "base/result.h"

#include <QJsonObject>
#include <QString>

// Reading and replacing the small JSON files that hold the updater's and the client's state.
namespace JsonFile {

struct ReadError
{
    enum Kind { Missing, OpenFailed, ParseFailed };
    Kind kind = Missing;
    int code = 0; // QFileDevice::FileError, or QJsonParseError::ParseError
};

Result<QJsonObject, ReadError> read(const QString& path);

// The object a file's content is to be changed from: the parsed file (an empty object when it is
// not JSON), or an empty object when there is no file yet. A failure, with the file error as its
// code, when an existing file cannot be opened for reading and writing; such a file must be left
// as it is.
Result<QJsonObject, Failure> readForChange(const QString& path);

// Replaces the file's whole content with the indented object. The new content goes to a temporary
// file that is renamed over the old one, so a crash in the middle never leaves half a file.
Outcome replace(const QString& path, const QJsonObject& object);

} // namespace JsonFile
