#include "startup.h"

#include "base/logfile.h"
#include "global.h"
#include "install/clientbackup.h"
#include "install/copymode.h"
#include "install/elevatedinstall.h"
#include "install/stagedinstall.h"
#include "install/treecopy.h"
#include "updaterun.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFont>
#include <QSharedMemory>

namespace {

void InstallApplicationFont()
{
    QFont font;
    font.setFamily(QStringLiteral("微软雅黑"));
    QApplication::setFont(font);
}

// A run that died without detaching leaves its segment behind, and as the key comes from 16 bits of
// a file's inode number, a dead run's segment may even lie under a fresh key file's key. Attaching
// and detaching lets the system drop a segment that nobody holds any more; a live one stays.
bool TakeSingleInstanceGuard(QSharedMemory& guard)
{
    if (guard.create(1, QSharedMemory::ReadWrite))
        return true;
    if (guard.attach(QSharedMemory::ReadWrite))
        guard.detach();
    return guard.create(1, QSharedMemory::ReadWrite);
}

// Windows hands argv over in the ANSI code page, which holds no Chinese text on most systems; Qt
// reads the arguments from the wide command line there.
QStringList ProgramArguments(int argc, char** argv)
{
#ifdef Q_OS_WIN
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return QCoreApplication::arguments().mid(1);
#else
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    return arguments;
#endif
}

void RecordArguments(int argc, char** argv)
{
    for (const QString& argument : ProgramArguments(argc, argv)) {
        g_global.m_args.append(argument);
        qInfo() << "cmd line parameters :" << argument;
    }
}

void ReleaseSingleInstanceGuard(QSharedMemory& guard)
{
    if (guard.isAttached() && guard.detach())
        qInfo() << "shareMem is release...";
}

int RunEventLoop(QApplication& app)
{
    UpdateRun run;
    return app.exec();
}

} // namespace

int RunUpdater(int& argc, char** argv)
{
    if (CopyMode::requested(argc, argv)) {
        QCoreApplication app(argc, argv);
        return CopyMode::run(QCoreApplication::arguments().mid(1));
    }
    if (StagedInstall::requested(argc, argv)) {
        QCoreApplication app(argc, argv);
        return StagedInstall::run(QCoreApplication::arguments().mid(1));
    }
    // The windows grow with the system's scale, as the user's other programs do.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    InstallApplicationFont();

    QSharedMemory guard(QStringLiteral("KelmAutoUpdate"));
    if (!TakeSingleInstanceGuard(guard)) {
        qInfo() << "App is run";
        return -1;
    }

    QDir::setCurrent(QCoreApplication::applicationDirPath());
    TreeCopy::removeSetAside(QDir::currentPath());
    qInfo() << "curent work path:" << QDir::currentPath();
    qInstallMessageHandler(LogFile::messageHandler);

    // An install that a killed run or a stopped machine left half done is undone before anything
    // reads the client's configuration, which may be one of its half-copied files.
    ElevatedInstall::restoreUnfinished();
    ClientBackup::restoreInterruptedInstall();
    if (g_global.GetConfig() != 0)
        return 0;
    RecordArguments(argc, argv);

    const int exitCode = RunEventLoop(app);
    ReleaseSingleInstanceGuard(guard);
    return exitCode;
}
