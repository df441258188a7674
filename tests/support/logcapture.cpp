#include "logcapture.h"

#include "logfile.h"

#include <QMutexLocker>

#include <atomic>

namespace {
std::atomic<LogCapture*> g_capture{nullptr};
} // namespace

LogCapture::LogCapture()
{
    g_capture.store(this);
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_capture.store(nullptr);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QStringList LogCapture::starting(const QString& prefix) const
{
    QStringList found;
    for (const QString& line : lines()) {
        if (line.startsWith(prefix))
            found.append(line);
    }
    return found;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (LogCapture* capture = g_capture.load()) {
        QMutexLocker lock(&capture->m_mutex);
        capture->m_lines.append(LogFile::levelWord(type) + QLatin1Char(' ') + message);
    }
}
