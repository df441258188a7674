#include "base/jsonfile.h"

#include "base/savedfile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

JsonFile::ReadResult JsonFile::read(const QString& path)
{
    ReadResult result;
    QFile file(path);
    if (!file.exists()) {
        result.errorCode = file.error();
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = ReadResult::OpenFailed;
        result.errorCode = file.error();
        return result;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        result.status = ReadResult::ParseFailed;
        result.errorCode = parseError.error;
        return result;
    }
    result.status = ReadResult::Ok;
    result.object = document.object();
    return result;
}

bool JsonFile::readForChange(const QString& path, QJsonObject* object, int* errorCode)
{
    QFile file(path);
    if (!file.exists()) {
        *object = QJsonObject();
        return true;
    }
    if (!file.open(QIODevice::ReadWrite)) {
        *errorCode = file.error();
        return false;
    }
    *object = QJsonDocument::fromJson(file.readAll()).object();
    return true;
}

bool JsonFile::replace(const QString& path, const QJsonObject& object, int* errorCode)
{
    return SavedFile::write(path, QJsonDocument(object).toJson(), errorCode);
}
