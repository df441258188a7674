#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include "logfile.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <atomic>

// Collects the log lines of its lifetime, from any thread, as "LEVEL message", with the level
// word the log file writes.
class LogCapture
{
public:
    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::handler)) { current() = this; }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    // The lines starting with prefix.
    QStringList starting(const QString& prefix) const
    {
        QStringList found;
        for (const QString& line : lines()) {
            if (line.startsWith(prefix))
                found.append(line);
        }
        return found;
    }
    bool has(const QString& prefix) const { return !starting(prefix).isEmpty(); }

private:
    static std::atomic<LogCapture*>& current()
    {
        static std::atomic<LogCapture*> capture{nullptr};
        return capture;
    }
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (LogCapture* capture = current().load()) {
            QMutexLocker lock(&capture->m_mutex);
            capture->m_lines.append(LogFile::levelWord(type) + QLatin1Char(' ') + message);
        }
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous;
};

#endif // LOGCAPTURE_H
