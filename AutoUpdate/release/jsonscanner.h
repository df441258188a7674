#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVector>

#include <functional>

// Walks the JSON text of a manifest or a delta plan without building it as one tree, which in
// Qt costs some 550 bytes per list entry: 55 MB for the 100,000 entries a manifest may hold. The
// text is split by its brackets, strings and separators alone; each piece is then parsed, and so
// checked, by QJsonDocument on its own. The pieces refer into the text, which must outlive them.
class JsonScanner
{
public:
    struct Member
    {
        QString key;
        // The value's raw JSON text.
        QByteArray value;
    };

    // The members of the top-level object, in order.
    static Result<QVector<Member>> members(const QByteArray& json);
    // Calls take with each element of the list whose raw text is given, parsed, stopping at
    // the first failure; more than maxElements fail.
    static Outcome forEachElement(const QByteArray& list, int maxElements,
                                  const std::function<Outcome(int, const QJsonValue&)>& take);
    // One value's raw text, parsed.
    static Result<QJsonValue> parse(const QByteArray& value);
};
