#include "release/fieldreader.h"

#include "base/relativepath.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

Result<QJsonObject> FieldReader::document(const QByteArray& json)
{
    using R = Result<QJsonObject>;
    if (json.size() > kMaxDocumentBytes)
        return R::failure(QStringLiteral("is %1 bytes long, more than %2")
                              .arg(json.size())
                              .arg(kMaxDocumentBytes));
    QJsonParseError parsing{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parsing);
    if (parsing.error != QJsonParseError::NoError)
        return R::failure(QStringLiteral("is not JSON: ") + parsing.errorString());
    if (!document.isObject())
        return R::failure(QStringLiteral("is not a JSON object"));
    return document.object();
}

Result<QJsonArray> FieldReader::list(const QJsonObject& object, const QString& key)
{
    using R = Result<QJsonArray>;
    const QJsonValue value = object.value(key);
    if (!value.isArray())
        return R::failure(QStringLiteral("\"%1\" is not a list").arg(key));
    const QJsonArray array = value.toArray();
    if (array.size() > kMaxEntries)
        return R::failure(QStringLiteral("\"%1\" holds %2 entries, more than %3")
                              .arg(key)
                              .arg(array.size())
                              .arg(kMaxEntries));
    return array;
}

QString FieldReader::fileKey(const QString& cleanPath)
{
#ifdef Q_OS_WIN
    return cleanPath.toCaseFolded();
#else
    return cleanPath;
#endif
}

FieldReader::FieldReader(QJsonObject object) : m_object(std::move(object)) {}

QString FieldReader::text(const QString& key)
{
    const QJsonValue value = field(key);
    if (ok() && !value.isString())
        fail(key, QStringLiteral("is not a text"));
    return ok() ? value.toString() : QString();
}

QString FieldReader::path(const QString& key)
{
    const QString path = text(key);
    const QString unsafe = ok() ? RelativePath::unsafeReason(path) : QString();
    if (!unsafe.isEmpty())
        fail(key, QStringLiteral("\"%1\" %2").arg(path, unsafe));
    return ok() ? RelativePath::clean(path) : QString();
}

qint64 FieldReader::size(const QString& key)
{
    return wholeNumber(key, kMaxSize);
}

QString FieldReader::sha256(const QString& key)
{
    static const QRegularExpression digest(QStringLiteral("^[0-9a-f]{64}$"));
    const QString value = text(key);
    if (ok() && !digest.match(value).hasMatch())
        fail(key, QStringLiteral("is not 64 lower-case hexadecimal digits"));
    return ok() ? value : QString();
}

quint32 FieldReader::mode(const QString& key)
{
    return static_cast<quint32>(wholeNumber(key, kMaxMode));
}

QJsonValue FieldReader::field(const QString& key)
{
    const QJsonValue value = m_object.value(key);
    if (ok() && value.isUndefined())
        fail(key, QStringLiteral("is missing"));
    return value;
}

qint64 FieldReader::wholeNumber(const QString& key, qint64 maximum)
{
    const QJsonValue value = field(key);
    const double number = value.toDouble(-1);
    if (ok() && (!value.isDouble() || number < 0 || number > double(maximum) ||
                 std::trunc(number) != number))
        fail(key, QStringLiteral("is not a whole number from 0 to %1").arg(maximum));
    return ok() ? static_cast<qint64>(number) : 0;
}

void FieldReader::fail(const QString& key, const QString& reason)
{
    m_fault = QStringLiteral("\"%1\" %2").arg(key, reason);
}
