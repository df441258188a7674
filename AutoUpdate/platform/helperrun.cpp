#include "platform/helperrun.h"

#include "base/savedfile.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {

constexpr int kPollMs = 100;
constexpr qint64 kMaxVerdictBytes = 256;

QStringList nircmdArguments(const Platform::Helper& helper, bool elevate)
{
    QStringList arguments;
    if (elevate)
        arguments << QStringLiteral("elevatecmd");
    return arguments << QStringLiteral("execmd") << HelperRun::toBackslashes(helper.program);
}

// A tagged verdict is "<tag> <exit code>": one left by an earlier run names another tag.
bool readVerdict(const QString& path, const QString& tag, int* exitCode)
{
    QFile verdict(path);
    if (!verdict.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = verdict.read(kMaxVerdictBytes).trimmed();
    if (!tag.isEmpty()) {
        const QByteArray prefix = tag.toUtf8() + ' ';
        if (!text.startsWith(prefix))
            return false;
        text = text.mid(prefix.size());
    }
    bool ok = false;
    *exitCode = text.toInt(&ok);
    return ok;
}

} // namespace

QString HelperRun::copySwitch()
{
    return QStringLiteral("-copytree");
}

QString HelperRun::removalSwitch()
{
    return QStringLiteral("-removepaths");
}

QString HelperRun::heartbeatPath(const QString& verdictPath)
{
    return verdictPath + QStringLiteral(".alive");
}

QString HelperRun::pathListPath(const QString& verdictPath)
{
    return verdictPath + QStringLiteral(".paths");
}

void HelperRun::beat(const QString& heartbeatPath)
{
    QFile heartbeat(heartbeatPath);
    if (heartbeat.open(QIODevice::WriteOnly | QIODevice::Truncate))
        heartbeat.write(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
}

QString HelperRun::toBackslashes(QString path)
{
    return path.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

QStringList HelperRun::copyArguments(const Platform::CopyRequest& request)
{
    return nircmdArguments(request.helper, request.elevate)
           << copySwitch() << toBackslashes(request.helper.verdictPath)
           << toBackslashes(request.source) << toBackslashes(request.target);
}

QStringList HelperRun::removalArguments(const Platform::RemovalRequest& request)
{
    const QString verdict = toBackslashes(request.helper.verdictPath);
    return nircmdArguments(request.helper, request.elevate)
           << removalSwitch() << verdict << pathListPath(verdict);
}

void HelperRun::prepare(const QString& verdictPath, int silenceLimitMs)
{
    // A helper that outlived the updater that started it (a killed run) may still be copying:
    // its end is waited for, so that two copies never run at once and its verdict is not taken
    // from under it.
    if (QFileInfo::exists(heartbeatPath(verdictPath)))
        await(verdictPath, 0, silenceLimitMs);
    QDir().mkpath(QFileInfo(verdictPath).absolutePath());
    QFile::remove(verdictPath);
    QFile::remove(heartbeatPath(verdictPath));
}

bool HelperRun::prepareRemoval(const QString& verdictPath, const QStringList& paths,
                               int silenceLimitMs)
{
    prepare(verdictPath, silenceLimitMs);
    return SavedFile::write(pathListPath(verdictPath),
                            paths.join(QLatin1Char('\n')).toUtf8() + '\n')
        .ok();
}

Result<int> HelperRun::await(const QString& verdictPath, int startLimitMs, int silenceLimitMs,
                             const QString& tag)
{
    const QString heartbeat = heartbeatPath(verdictPath);
    const auto noVerdict = [] { return Result<int>::failure(QStringLiteral("no verdict")); };
    QElapsedTimer waited;
    waited.start();
    bool started = false;
    for (;;) {
        int exitCode = -1;
        if (readVerdict(verdictPath, tag, &exitCode))
            return exitCode;
        const QFileInfo beating(heartbeat);
        if (beating.exists()) {
            started = true;
            if (beating.lastModified().msecsTo(QDateTime::currentDateTime()) > silenceLimitMs)
                return noVerdict();
        } else if (started || waited.elapsed() > startLimitMs) {
            // The helper removes its heartbeat after leaving its verdict.
            return readVerdict(verdictPath, tag, &exitCode) ? Result<int>(exitCode) : noVerdict();
        }
        QThread::msleep(kPollMs);
    }
}
