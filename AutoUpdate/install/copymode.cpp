#include "install/copymode.h"

#include "base/savedfile.h"
#include "install/treecopy.h"
#include "platform/helperrun.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr int kHeartbeatMs = 1000;

// 1 when a file could not be replaced; the copy stops there.
int copyTree(const QString& source, const QString& target, const QString& heartbeat)
{
    QElapsedTimer sinceBeat;
    sinceBeat.start();
    const Outcome copied = TreeCopy::copy(source, target, [&] {
        if (sinceBeat.elapsed() < kHeartbeatMs)
            return;
        HelperRun::beat(heartbeat);
        sinceBeat.restart();
    });
    if (!copied)
        qWarning().noquote() << "copy mode:" << copied.error();
    return copied ? 0 : 1;
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
    return requestedSwitch == HelperRun::copySwitch() ||
           requestedSwitch == HelperRun::removalSwitch();
}

int CopyMode::run(const QStringList& arguments)
{
    if (arguments.size() < 3)
        return 2;
    const QString verdict = arguments.at(1);
    const QString heartbeat = HelperRun::heartbeatPath(verdict);
    HelperRun::beat(heartbeat);
    const bool removal = arguments.at(0) == HelperRun::removalSwitch();
    if (!removal && arguments.size() < 4)
        return 2;
    const int exitCode = removal ? removeListed(arguments.at(2))
                                 : copyTree(arguments.at(2), arguments.at(3), heartbeat);
    SavedFile::write(verdict, QByteArray::number(exitCode));
    QFile::remove(heartbeat);
    return exitCode == 0 ? 0 : 1;
}
