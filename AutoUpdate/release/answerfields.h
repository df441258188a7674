#pragma once

#include "release/releaseoffer.h"

#include <QJsonObject>
#include <QtGlobal>

#include <optional>

class QJsonValue;

// The fields of a check answer's "biz" object, in one table: what the updater reads into a
// ReleaseOffer, what a release signature covers and in which order, what the update service
// publishes and what the tests' answers carry. A new field is one row here and one member of
// ReleaseOffer.
namespace AnswerFields {

enum class Type { Text, WholeNumber };

struct Field
{
    const char* name;
    Type type;
    // Exactly one of the two is set, after the type.
    QString ReleaseOffer::*text;
    qint64 ReleaseOffer::*number;
    // Signed: covered by a release's signature, in the table's order.
    bool isSigned;
    // Optional: left out of an answer while empty (or 0), and then not missing; the signed ones
    // are required of a signed release all the same.
    bool isOptional;
    // Covered only when the answer has it: a field that only some releases have (a zip
    // release's manifest). A release signed with it does not verify without it.
    bool isCoveredWhenPresent;
};

// The answer's "deltas" list: at most this many entries are read; an entry that breaks a rule
// is left out, as is every entry beyond the bound.
constexpr int kMaxDeltas = 16;

// Every field, covered ones in the order their signature covers them.
const Field* begin();
const Field* end();

// The answer's value of a field: text as UTF-8, a whole number in decimal; nothing when the
// offer has no value for an optional field.
std::optional<QByteArray> signedValue(const ReleaseOffer& offer, const Field& field);

// A whole number as JSON carries one: a double that holds it exactly.
std::optional<qint64> wholeNumber(const QJsonValue& value);

ReleaseOffer fromBiz(const QJsonObject& biz);
QJsonObject toBiz(const ReleaseOffer& offer);

} // namespace AnswerFields
