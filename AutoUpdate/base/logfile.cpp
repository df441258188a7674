#include "base/logfile.h"

#include "base/userpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

namespace {

QString& chosenPath()
{
    static QString path;
    return path;
}

// Compilers name sources with either separator; only a forward-slash path is shortened, so a
// backslash path stays whole, as the line format has always shown it.
QString sourceFileName(const char* file)
{
    const QString name = QString::fromUtf8(file);
    return name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
}

void appendLine(const QString& line)
{
    QFile file(LogFile::path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    if (file.size() > LogFile::kMaxSize)
        file.resize(0);
    QTextStream stream(&file);
    stream << line << "\r\n";
    stream.flush();
}

} // namespace

QString LogFile::path()
{
    const QString& chosen = chosenPath();
    return chosen.isEmpty() ? UserPaths::updaterDir() + QStringLiteral("/AutoUpdate.log") : chosen;
}

void LogFile::setPath(const QString& path)
{
    chosenPath() = path;
}

QString LogFile::levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("DEBUG");
    case QtWarningMsg:
        return QStringLiteral("WARNING");
    case QtInfoMsg:
        return QStringLiteral("INFO");
    case QtCriticalMsg:
    case QtFatalMsg:
        break;
    }
    return QString();
}

QString LogFile::formatLine(QtMsgType type, const QMessageLogContext& context,
                            const QString& message, const QDateTime& when)
{
    const QString where =
        QStringLiteral("(%1:%2)").arg(sourceFileName(context.file), QString::number(context.line));
    return QStringLiteral("[%1] [%2] %3 %4")
        .arg(when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), levelWord(type), where, message);
}

void LogFile::messageHandler(QtMsgType type, const QMessageLogContext& context,
                             const QString& message)
{
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    QDir().mkpath(QFileInfo(LogFile::path()).absolutePath());
    appendLine(formatLine(type, context, message, QDateTime::currentDateTime()));
}
