#include "release/fieldreader.h"

#include "base/relativepath.h"
#include "release/answerfields.h"
#include "release/jsonscanner.h"

#include <QRegularExpression>

#include <optional>

Result<FieldReader::Document> FieldReader::document(const QByteArray& json, const QStringList& keys)
{
    using R = Result<Document>;
    if (json.size() > kMaxDocumentBytes)
        return R::failure(QStringLiteral("is %1 bytes long, more than %2")
                              .arg(json.size())
                              .arg(kMaxDocumentBytes));
    const Result<QVector<JsonScanner::Member>> members = JsonScanner::members(json);
    if (!members)
        return R::failure(members.error());
    Document document;
    for (const JsonScanner::Member& member : members.value()) {
        if (!keys.contains(member.key))
            return R::failure(QStringLiteral("holds the unknown member \"%1\"").arg(member.key));
        if (document.lists.contains(member.key) || document.values.contains(member.key))
            return R::failure(QStringLiteral("holds \"%1\" twice").arg(member.key));
        // A list is walked entry by entry; anything else is small enough to parse whole.
        if (member.value.startsWith('[')) {
            document.lists.insert(member.key, member.value);
            continue;
        }
        const Result<QJsonValue> value = JsonScanner::parse(member.value);
        if (!value)
            return R::failure(QStringLiteral("\"%1\" %2").arg(member.key, value.error()));
        document.values.insert(member.key, value.value());
    }
    return document;
}

Outcome FieldReader::forEachEntry(const Document& document, const QString& key,
                                  const std::function<Outcome(FieldReader&)>& read)
{
    const Outcome walked = JsonScanner::forEachElement(
        document.lists.value(key), kMaxEntries, [&](int index, const QJsonValue& entry) {
            FieldReader reader(entry.toObject());
            const Outcome outcome = read(reader);
            return outcome ? outcome
                           : Outcome::failure(
                                 QStringLiteral("entry %1: %2").arg(index).arg(outcome.error()));
        });
    return walked ? walked : Outcome::failure(QStringLiteral("\"%1\" %2").arg(key, walked.error()));
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
    const std::optional<qint64> number = AnswerFields::wholeNumber(field(key));
    if (ok() && (!number || *number < 0 || *number > maximum))
        fail(key, QStringLiteral("is not a whole number from 0 to %1").arg(maximum));
    return ok() ? *number : 0;
}

void FieldReader::fail(const QString& key, const QString& reason)
{
    m_fault = QStringLiteral("\"%1\" %2").arg(key, reason);
}
