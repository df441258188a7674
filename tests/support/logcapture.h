#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include "logfile.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <algorithm>
#include <atomic>

// Collects the log lines of its lifetime, from any thread, as "LEVEL message", with the level
// word the log file writes.
class LogCapture
{
public:
    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::handler)) { s_current = this; }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    // Whether some line starts with prefix; any line does for an empty one.
    bool has(const QString& prefix) const
    {
        const QStringList all = lines();
        return std::any_of(all.cbegin(), all.cend(),
                           [&](const QString& line) { return line.startsWith(prefix); });
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (LogCapture* capture = s_current.load()) {
            QMutexLocker lock(&capture->m_mutex);
            capture->m_lines.append(LogFile::levelWord(type) + QLatin1Char(' ') + message);
        }
    }

    static inline std::atomic<LogCapture*> s_current{nullptr};
    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous;
};

#endif // LOGCAPTURE_H
