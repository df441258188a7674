#include "release/jsonscanner.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A position in the text, moved over separators and whole values.
class Cursor
{
public:
    explicit Cursor(const QByteArray& text) : m_text(text) {}

    // Moves past c when it comes next, spaces aside.
    bool take(char c)
    {
        skipSpace();
        if (m_pos == m_text.size() || m_text.at(m_pos) != c)
            return false;
        ++m_pos;
        return true;
    }

    bool atEnd()
    {
        skipSpace();
        return m_pos == m_text.size();
    }

    // The raw text of the value that comes next, moving past it; empty where none does.
    QByteArray value()
    {
        skipSpace();
        const int end = valueEnd();
        if (end <= m_pos)
            return QByteArray();
        const QByteArray value = QByteArray::fromRawData(m_text.constData() + m_pos, end - m_pos);
        m_pos = end;
        return value;
    }

private:
    void skipSpace()
    {
        while (m_pos < m_text.size() && isSpace(m_text.at(m_pos)))
            ++m_pos;
    }

    // Where the value at the cursor ends: after its closing bracket or quote, or for a number
    // or a word, at the first separator. -1 when a bracket or a string is left open.
    int valueEnd() const
    {
        int depth = 0;
        bool inString = false;
        for (int i = m_pos; i < m_text.size(); ++i) {
            const char c = m_text.at(i);
            if (inString) {
                if (c == '\\') {
                    ++i;
                } else if (c == '"') {
                    inString = false;
                    if (depth == 0)
                        return i + 1;
                }
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                // At depth 0 the bracket closes the enclosing list or object: a number ends.
                if (depth == 0)
                    return i;
                if (--depth == 0)
                    return i + 1;
            } else if (depth == 0 && (c == ',' || c == ':' || isSpace(c))) {
                return i;
            }
        }
        return depth == 0 && !inString ? m_text.size() : -1;
    }

    const QByteArray& m_text;
    int m_pos = 0;
};

Result<QString> parseKey(const QByteArray& key)
{
    const Result<QJsonValue> parsed = JsonScanner::parse(key);
    if (!parsed || !parsed->isString())
        return Result<QString>::failure(QStringLiteral("is not JSON where a member's name goes"));
    return parsed->toString();
}

} // namespace

Result<QVector<JsonScanner::Member>> JsonScanner::members(const QByteArray& json)
{
    using R = Result<QVector<Member>>;
    Cursor cursor(json);
    if (!cursor.take('{'))
        return R::failure(QStringLiteral("is not a JSON object"));
    QVector<Member> members;
    bool more = !cursor.take('}');
    while (more) {
        const Result<QString> key = parseKey(cursor.value());
        if (!key)
            return R::failure(key.error());
        const QByteArray value = cursor.take(':') ? cursor.value() : QByteArray();
        if (value.isEmpty())
            return R::failure(QStringLiteral("has no value for \"%1\"").arg(key.value()));
        members.append({key.value(), value});
        more = cursor.take(',');
        if (!more && !cursor.take('}'))
            return R::failure(QStringLiteral("is not JSON after \"%1\"").arg(key.value()));
    }
    if (!cursor.atEnd())
        return R::failure(QStringLiteral("is not JSON after its object"));
    return members;
}

Outcome JsonScanner::forEachElement(const QByteArray& list, int maxElements,
                                    const std::function<Outcome(int, const QJsonValue&)>& take)
{
    Cursor cursor(list);
    if (!cursor.take('['))
        return Outcome::failure(QStringLiteral("is not a list"));
    bool more = !cursor.take(']');
    for (int index = 0; more; ++index) {
        if (index == maxElements)
            return Outcome::failure(QStringLiteral("holds more than %1 entries").arg(maxElements));
        const Result<QJsonValue> element = parse(cursor.value());
        if (!element)
            return Outcome::failure(QStringLiteral("entry %1 %2").arg(index).arg(element.error()));
        const Outcome taken = take(index, element.value());
        if (!taken)
            return taken;
        more = cursor.take(',');
        if (!more && !cursor.take(']'))
            return Outcome::failure(QStringLiteral("is not JSON after entry %1").arg(index));
    }
    return cursor.atEnd() ? Outcome::success()
                          : Outcome::failure(QStringLiteral("is not JSON after its list"));
}

Result<QJsonValue> JsonScanner::parse(const QByteArray& value)
{
    using R = Result<QJsonValue>;
    if (value.isEmpty())
        return R::failure(QStringLiteral("is missing"));
    // Qt parses objects and lists only: the value goes into a list of its own.
    QJsonParseError parsing{};
    const QJsonDocument document = QJsonDocument::fromJson('[' + value + ']', &parsing);
    if (parsing.error != QJsonParseError::NoError || document.array().size() != 1)
        return R::failure(QStringLiteral("is not JSON: ") + parsing.errorString());
    return document.array().first();
}
