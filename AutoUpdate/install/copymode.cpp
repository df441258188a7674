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

// Files are removed, folders only when empty; 1 when any listed path is still there. The list is
// read a line at a time, so however long it is, one path at a time is held; and the heartbeat is
// kept fresh, as a removal of many files can outlast the silence after which the waiting updater
// gives up.
int removeListed(const QString& listPath, const QString& heartbeat)
{
    QFile list(listPath);
    if (!list.open(QIODevice::ReadOnly))
        return -1;
    int exitCode = 0;
    QElapsedTimer sinceBeat;
    sinceBeat.start();
    // A line read is never empty: it holds at least its end. Nothing read is the end of the list,
    // or a failure to read it.
    for (QByteArray line; !(line = list.readLine()).isEmpty();) {
        if (line.endsWith('\n'))
            line.chop(1);
        const QString path = QString::fromUtf8(line);
        if (path.isEmpty())
            continue;
        if (sinceBeat.hasExpired(kHeartbeatMs)) {
            HelperRun::beat(heartbeat);
            sinceBeat.restart();
        }
        if (QFileInfo(path).isDir())
            QDir().rmdir(path);
        else
            QFile::remove(path);
        if (QFileInfo::exists(path))
            exitCode = 1;
    }
    return list.atEnd() ? exitCode : -1;
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
    const int exitCode = removal ? removeListed(arguments.at(2), heartbeat)
                                 : copyTree(arguments.at(2), arguments.at(3), heartbeat);
    SavedFile::write(verdict, QByteArray::number(exitCode));
    QFile::remove(heartbeat);
    return exitCode == 0 ? 0 : 1;
}
