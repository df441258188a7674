#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the log lines of its lifetime, from any thread, as "LEVEL message", with the level
// word the log file writes.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    // The lines starting with prefix.
    QStringList starting(const QString& prefix) const;
    bool has(const QString& prefix) const { return !starting(prefix).isEmpty(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous;
};

#endif // LOGCAPTURE_H
