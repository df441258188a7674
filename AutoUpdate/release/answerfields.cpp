#include "release/answerfields.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace AnswerFields {

namespace {

constexpr bool kSigned = true;
constexpr bool kOptional = true;
constexpr bool kCoveredWhenPresent = true;
// Whole numbers above this do not survive a JSON number, which is a double, exactly.
constexpr double kLargestExactWholeNumber = 9007199254740992.0;

constexpr Field text(const char* name, QString ReleaseOffer::*member, bool isSigned,
                     bool isOptional = false, bool isCoveredWhenPresent = false)
{
    return {name, Type::Text, member, nullptr, isSigned, isOptional, isCoveredWhenPresent};
}

constexpr Field number(const char* name, qint64 ReleaseOffer::*member, bool isSigned,
                       bool isOptional = false)
{
    return {name, Type::WholeNumber, nullptr, member, isSigned, isOptional, false};
}

const Field kFields[] = {
    text("id", &ReleaseOffer::id, kSigned),
    text("update", &ReleaseOffer::updateMode, kSigned),
    text("latestVersion", &ReleaseOffer::version, kSigned),
    text("latestVersionUrl", &ReleaseOffer::url, kSigned),
    text("latestVersionInfo", &ReleaseOffer::notes, kSigned),
    text("md5", &ReleaseOffer::md5, kSigned),
    text("sha1", &ReleaseOffer::sha1, !kSigned),
    text("sha256", &ReleaseOffer::sha256, kSigned, kOptional),
    number("packageSize", &ReleaseOffer::packageSize, kSigned),
    number("updateType", &ReleaseOffer::updateType, kSigned),
    number("sequence", &ReleaseOffer::sequence, kSigned, kOptional),
    text("manifestSha256", &ReleaseOffer::manifestSha256, kSigned, kOptional, kCoveredWhenPresent),
    text("keyId", &ReleaseOffer::keyId, kSigned, kOptional),
    text("signature", &ReleaseOffer::signature, !kSigned, kOptional),
};

const QString kDeltasKey = QStringLiteral("deltas");
// A delta is never larger than a package may be.
constexpr qint64 kMaxDeltaBytes = qint64(2) << 30;

bool isSha256(const QString& text)
{
    static const QString kHexDigits = QStringLiteral("0123456789abcdef");
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return kHexDigits.contains(c); });
}

// The name is appended to the package address and names the file in the download folder.
bool isFileName(const QString& text)
{
    return !text.isEmpty() && text != QLatin1String(".") && text != QLatin1String("..") &&
           !text.contains(QLatin1Char('/')) && !text.contains(QLatin1Char('\\'));
}

std::optional<qint64> deltaSize(const QJsonValue& value)
{
    const std::optional<qint64> size = wholeNumber(value);
    if (!size || *size <= 0 || *size > kMaxDeltaBytes)
        return std::nullopt;
    return size;
}

std::optional<DeltaOffer> deltaIn(const QJsonObject& entry)
{
    DeltaOffer delta;
    delta.fromVersion = entry.value(QStringLiteral("fromVersion")).toString();
    delta.url = entry.value(QStringLiteral("url")).toString();
    delta.sha256 = entry.value(QStringLiteral("sha256")).toString();
    delta.planUrl = entry.value(QStringLiteral("planUrl")).toString();
    delta.planSha256 = entry.value(QStringLiteral("planSha256")).toString();
    const std::optional<qint64> size = deltaSize(entry.value(QStringLiteral("size")));
    const std::optional<qint64> planSize = deltaSize(entry.value(QStringLiteral("planSize")));
    if (delta.fromVersion.isEmpty() || !isFileName(delta.url) || !isFileName(delta.planUrl) ||
        !isSha256(delta.sha256) || !isSha256(delta.planSha256) || !size || !planSize)
        return std::nullopt;
    delta.size = *size;
    delta.planSize = *planSize;
    return delta;
}

QVector<DeltaOffer> deltasIn(const QJsonValue& list)
{
    QVector<DeltaOffer> deltas;
    const QJsonArray entries = list.toArray();
    for (const QJsonValue& entry : entries) {
        if (deltas.size() == kMaxDeltas)
            break;
        const std::optional<DeltaOffer> delta = deltaIn(entry.toObject());
        if (delta)
            deltas.append(*delta);
        else
            qDebug() << "delta entry left out:" << entry;
    }
    return deltas;
}

QJsonArray deltaList(const QVector<DeltaOffer>& deltas)
{
    QJsonArray list;
    for (const DeltaOffer& delta : deltas) {
        list.append(QJsonObject{{QStringLiteral("fromVersion"), delta.fromVersion},
                                {QStringLiteral("url"), delta.url},
                                {QStringLiteral("size"), delta.size},
                                {QStringLiteral("sha256"), delta.sha256},
                                {QStringLiteral("planUrl"), delta.planUrl},
                                {QStringLiteral("planSize"), delta.planSize},
                                {QStringLiteral("planSha256"), delta.planSha256}});
    }
    return list;
}

bool isEmpty(const ReleaseOffer& offer, const Field& field)
{
    return field.type == Type::Text ? (offer.*field.text).isEmpty() : offer.*field.number == 0;
}

// False when the value is not of the field's type; the member then stays empty.
bool read(const QJsonValue& value, const Field& field, ReleaseOffer& offer)
{
    if (field.type == Type::Text) {
        offer.*field.text = value.toString();
        return value.isString();
    }
    const std::optional<qint64> whole = wholeNumber(value);
    offer.*field.number = whole.value_or(0);
    return whole.has_value();
}

} // namespace

const Field* begin()
{
    return std::begin(kFields);
}

const Field* end()
{
    return std::end(kFields);
}

std::optional<qint64> wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::floor(number) != number || std::fabs(number) > kLargestExactWholeNumber)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<QByteArray> signedValue(const ReleaseOffer& offer, const Field& field)
{
    if (offer.malformedFields.contains(QLatin1String(field.name)) ||
        (field.isOptional && isEmpty(offer, field)))
        return std::nullopt;
    if (field.type == Type::Text)
        return (offer.*field.text).toUtf8();
    return QByteArray::number(offer.*field.number);
}

ReleaseOffer fromBiz(const QJsonObject& biz)
{
    ReleaseOffer offer;
    for (const Field& field : kFields) {
        const QJsonValue value = biz.value(QLatin1String(field.name));
        const bool absentOptional = field.isOptional && value.isUndefined();
        if (!read(value, field, offer) && !absentOptional)
            offer.malformedFields.append(QLatin1String(field.name));
    }
    offer.deltas = deltasIn(biz.value(kDeltasKey));
    return offer;
}

QJsonObject toBiz(const ReleaseOffer& offer)
{
    QJsonObject biz;
    for (const Field& field : kFields) {
        if (field.isOptional && isEmpty(offer, field))
            continue;
        biz.insert(QLatin1String(field.name), field.type == Type::Text
                                                  ? QJsonValue(offer.*field.text)
                                                  : QJsonValue(offer.*field.number));
    }
    if (!offer.deltas.isEmpty())
        biz.insert(kDeltasKey, deltaList(offer.deltas));
    return biz;
}

} // namespace AnswerFields
