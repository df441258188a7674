#include "release/answerfields.h"

#include <QJsonValue>

#include <cmath>
#include <iterator>

namespace AnswerFields {

namespace {

constexpr bool kSigned = true;
constexpr bool kOptional = true;
// Whole numbers above this do not survive a JSON number, which is a double, exactly.
constexpr double kLargestExactWholeNumber = 9007199254740992.0;

constexpr Field text(const char* name, QString ReleaseOffer::*member, bool isSigned,
                     bool isOptional = false)
{
    return {name, Type::Text, member, nullptr, isSigned, isOptional};
}

constexpr Field number(const char* name, qint64 ReleaseOffer::*member, bool isSigned,
                       bool isOptional = false)
{
    return {name, Type::WholeNumber, nullptr, member, isSigned, isOptional};
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
    text("keyId", &ReleaseOffer::keyId, kSigned, kOptional),
    text("signature", &ReleaseOffer::signature, !kSigned, kOptional),
};

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
    return biz;
}

} // namespace AnswerFields
