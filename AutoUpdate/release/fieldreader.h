#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

// Reads the objects of a release manifest or a delta plan. Both arrive from the network, so each
// field is held to its rule as it is read, and the first field that breaks one is kept as the
// fault: a reader that found one hands back empty values from then on.
class FieldReader
{
public:
    // Bounds on a document, checked before it is parsed and while its lists are walked.
    static constexpr int kMaxDocumentBytes = 16 << 20;
    static constexpr int kMaxEntries = 100000;
    // Sizes are JSON numbers: beyond 2^53 they are no longer whole.
    static constexpr qint64 kMaxSize = qint64(1) << 53;
    static constexpr quint32 kMaxMode = 0777;

    // A document's object: its lists as raw JSON text, read entry by entry with forEachEntry(),
    // and its other members.
    struct Document
    {
        QHash<QString, QByteArray> lists;
        QJsonObject values;
    };

    // Refuses members other than keys, and a key given twice.
    static Result<Document> document(const QByteArray& json, const QStringList& keys);
    // Reads each object of the list under key with read; the reason names the entry.
    static Outcome forEachEntry(const Document& document, const QString& key,
                                const std::function<Outcome(FieldReader&)>& read);

    explicit FieldReader(QJsonObject object);

    QString text(const QString& key);
    // A path that stays below the folder it is joined to, cleaned.
    QString path(const QString& key);
    qint64 size(const QString& key);
    // 64 lower-case hexadecimal digits.
    QString sha256(const QString& key);
    // Permission bits only: a release never sets a file's user or group id.
    quint32 mode(const QString& key);

    bool ok() const { return m_fault.isEmpty(); }
    const QString& fault() const { return m_fault; }

private:
    QJsonValue field(const QString& key);
    qint64 wholeNumber(const QString& key, qint64 maximum);
    void fail(const QString& key, const QString& reason);

    QJsonObject m_object;
    QString m_fault;
};
