#include "install/copymode.h"

#include "base/savedfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace {

constexpr int kHeartbeatMs = 1000;
constexpr int kPollMs = 100;

QString heartbeatPath(const QString& verdictPath)
{
    return verdictPath + QStringLiteral(".alive");
}

void beat(const QString& path)
{
    QFile heartbeat(path);
    if (heartbeat.open(QIODevice::WriteOnly | QIODevice::Truncate))
        heartbeat.write(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
}

bool readVerdict(const QString& path, int* exitCode)
{
    QFile verdict(path);
    if (!verdict.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    *exitCode = verdict.readAll().trimmed().toInt(&ok);
    return ok;
}

// -1 when the tool could not be started or did not end by itself.
int runTool(const QString& program, const QStringList& arguments, const QString& heartbeat)
{
    QProcess tool;
    tool.start(program, arguments, QIODevice::ReadWrite);
    if (!tool.waitForStarted(-1))
        return -1;
    while (!tool.waitForFinished(kHeartbeatMs) && tool.state() != QProcess::NotRunning)
        beat(heartbeat);
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

// Files are removed, folders only when empty; 1 when any listed path is still there.
int removeListed(const QString& listPath)
{
    QFile list(listPath);
    if (!list.open(QIODevice::ReadOnly))
        return -1;
    int exitCode = 0;
    for (const QString& path : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'))) {
        if (path.isEmpty())
            continue;
        if (QFileInfo(path).isDir())
            QDir().rmdir(path);
        else
            QFile::remove(path);
        if (QFileInfo::exists(path))
            exitCode = 1;
    }
    return exitCode;
}

} // namespace

QString CopyMode::switchName()
{
    return QStringLiteral("-copytree");
}

QString CopyMode::removalSwitchName()
{
    return QStringLiteral("-removepaths");
}

QString CopyMode::program()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("AutoUpdate.exe");
#else
    const QString name = QStringLiteral("AutoUpdate");
#endif
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

bool CopyMode::requested(int argc, char** argv)
{
    if (argc < 2)
        return false;
    const QString requestedSwitch = QString::fromLocal8Bit(argv[1]);
    return requestedSwitch == switchName() || requestedSwitch == removalSwitchName();
}

int CopyMode::run(const QStringList& arguments)
{
    if (arguments.size() < 3)
        return 2;
    const QString verdict = arguments.at(1);
    const QString heartbeat = heartbeatPath(verdict);
    beat(heartbeat);
    const int exitCode = arguments.at(0) == removalSwitchName()
                             ? removeListed(arguments.at(2))
                             : runTool(arguments.at(2), arguments.mid(3), heartbeat);
    int errorCode = 0;
    SavedFile::write(verdict, QByteArray::number(exitCode), &errorCode);
    QFile::remove(heartbeat);
    return exitCode == 0 ? 0 : 1;
}

void CopyMode::prepare(const QString& verdictPath)
{
    QDir().mkpath(QFileInfo(verdictPath).absolutePath());
    QFile::remove(verdictPath);
    QFile::remove(heartbeatPath(verdictPath));
}

QString CopyMode::pathListPath(const QString& verdictPath)
{
    return verdictPath + QStringLiteral(".paths");
}

bool CopyMode::prepareRemoval(const QString& verdictPath, const QStringList& paths)
{
    prepare(verdictPath);
    int errorCode = 0;
    return SavedFile::write(pathListPath(verdictPath),
                            paths.join(QLatin1Char('\n')).toUtf8() + '\n', &errorCode);
}

CopyMode::Verdict CopyMode::await(const QString& verdictPath, int startLimitMs, int silenceLimitMs)
{
    const QString heartbeat = heartbeatPath(verdictPath);
    QElapsedTimer waited;
    waited.start();
    bool started = false;
    for (;;) {
        Verdict verdict;
        if (readVerdict(verdictPath, &verdict.exitCode)) {
            verdict.reached = true;
            return verdict;
        }
        const QFileInfo beating(heartbeat);
        if (beating.exists()) {
            started = true;
            if (beating.lastModified().msecsTo(QDateTime::currentDateTime()) > silenceLimitMs)
                return verdict;
        } else if (started || waited.elapsed() > startLimitMs) {
            // The copy removes its heartbeat after leaving its verdict.
            verdict.reached = readVerdict(verdictPath, &verdict.exitCode);
            return verdict;
        }
        QThread::msleep(kPollMs);
    }
}
