#pragma once

#include <QString>

#include <optional>
#include <utility>

// Why a file operation failed: the reason, and the system's error code for the log.
struct Failure
{
    QString reason;
    int code = 0;
};

// What an operation that can fail hands back: its value, or the reason it failed. The reason is
// meant for the log; callers that choose between failures by kind give E a type of their own.
template <typename T, typename E = QString> class Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    static Result failure(E reason) { return Result(std::nullopt, std::move(reason)); }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *m_value; }
    T& value() { return *m_value; }
    const T* operator->() const { return &*m_value; }
    const E& error() const { return m_error; }

private:
    Result(std::nullopt_t, E reason) : m_error(std::move(reason)) {}

    std::optional<T> m_value;
    E m_error{};
};

// The outcome of an operation that hands back nothing but its success. A failure may carry the
// system's error code beside its reason, for the log.
class Outcome
{
public:
    static Outcome success() { return Outcome(QString(), 0, true); }
    static Outcome failure(QString reason, int code = 0)
    {
        return Outcome(std::move(reason), code, false);
    }

    bool ok() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    const QString& error() const { return m_error; }
    int code() const { return m_code; }

private:
    Outcome(QString reason, int code, bool ok) : m_error(std::move(reason)), m_code(code), m_ok(ok)
    {}

    QString m_error;
    int m_code = 0;
    bool m_ok = false;
};
