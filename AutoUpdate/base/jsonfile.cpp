#include "base/jsonfile.h"

#include "base/savedfile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

Result<QJsonObject, JsonFile::ReadError> JsonFile::read(const QString& path)
{
    using Read = Result<QJsonObject, ReadError>;
    QFile file(path);
    if (!file.exists())
        return Read::failure({ReadError::Missing, file.error()});
    if (!file.open(QIODevice::ReadOnly))
        return Read::failure({ReadError::OpenFailed, file.error()});
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Read::failure({ReadError::ParseFailed, parseError.error});
    return document.object();
}

Result<QJsonObject, Failure> JsonFile::readForChange(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return QJsonObject();
    if (!file.open(QIODevice::ReadWrite))
        return Result<QJsonObject, Failure>::failure(
            {QStringLiteral("cannot open ") + path, file.error()});
    return QJsonDocument::fromJson(file.readAll()).object();
}

Outcome JsonFile::replace(const QString& path, const QJsonObject& object)
{
    return SavedFile::write(path, QJsonDocument(object).toJson());
}
