#include "platform/platform.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Stands for the exit code of a tool that was ended by a signal.
constexpr int kCrashExitCode = -1;
// Paths per removal command. A command line is limited (2 MiB with the usual 8 MiB stack); this
// many paths fit in half of it even when each is as long as a path can be (4096 bytes).
constexpr int kRemoveBatchSize = 256;

struct ProcessEntry
{
    qint64 pid = 0;
    QString name;
    uint ownerId = 0;
};

// The executable's file name, as tasklist would show it: from the exe link where it can be read,
// otherwise from the first word of the command line (other users' processes, kernel threads).
QString processImageName(const QString& procDir)
{
    QString target = QFileInfo(procDir + QStringLiteral("/exe")).symLinkTarget();
    if (!target.isEmpty()) {
        const QString deleted = QStringLiteral(" (deleted)");
        if (target.endsWith(deleted))
            target.chop(deleted.size());
        return QFileInfo(target).fileName();
    }
    QFile cmdline(procDir + QStringLiteral("/cmdline"));
    if (!cmdline.open(QIODevice::ReadOnly))
        return {};
    const QByteArray argv0 = cmdline.readAll().split('\0').value(0);
    return QFileInfo(QString::fromLocal8Bit(argv0)).fileName();
}

QList<ProcessEntry> processesNamed(const QString& imageName)
{
    QList<ProcessEntry> found;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QString procDir = proc.filePath(entry);
        const QString name = processImageName(procDir);
        if (!name.isEmpty() && name.compare(imageName, Qt::CaseInsensitive) == 0)
            found.append({pid, name, QFileInfo(procDir).ownerId()});
    }
    return found;
}

QList<ProcessEntry> ownProcessesNamed(const QString& imageName)
{
    QList<ProcessEntry> own;
    for (const ProcessEntry& process : processesNamed(imageName)) {
        if (process.ownerId == ::getuid())
            own.append(process);
    }
    return own;
}

class LinuxPlatform final : public Platform
{
public:
    QString queryProcesses(const QString& imageName) override
    {
        QString listing;
        for (const ProcessEntry& process : processesNamed(imageName))
            listing += process.name + QLatin1Char('\n');
        return listing;
    }

    void killProcesses(const QString& imageName) override
    {
        for (const ProcessEntry& process : ownProcessesNamed(imageName))
            ::kill(static_cast<pid_t>(process.pid), SIGKILL);
        QDeadlineTimer deadline(5000);
        while (!ownProcessesNamed(imageName).isEmpty() && !deadline.hasExpired())
            QThread::msleep(50);
    }

    Result<qint64, Failure> freeSpace(const QString& path) override
    {
        struct statvfs info
        {
        };
        if (::statvfs(QFile::encodeName(path).constData(), &info) != 0)
            return Result<qint64, Failure>::failure({QStringLiteral("statvfs failed"), errno});
        return static_cast<qint64>(info.f_bfree) * static_cast<qint64>(info.f_frsize);
    }

    QString systemVolume() const override { return QStringLiteral("/"); }

    QString workingVolume() const override { return QDir::currentPath(); }

    QString volumeLabel(const QString& path) const override
    {
        return QStorageInfo(path).rootPath();
    }

    ToolRun copyTree(const CopyRequest& request) override
    {
        return run(request.elevate,
                   {QStringLiteral("cp"), QStringLiteral("-R"), QStringLiteral("-f"),
                    QStringLiteral("--"), request.source + QStringLiteral("/."), request.target});
    }

    // In batches, one rm each, in the order given: a folder comes after the files in it.
    void removePaths(const RemovalRequest& request) override
    {
        const QStringList& paths = request.paths;
        const QStringList remove{QStringLiteral("rm"), QStringLiteral("-f"), QStringLiteral("-d"),
                                 QStringLiteral("--")};
        for (int first = 0; first < paths.size(); first += kRemoveBatchSize) {
            const ToolRun removed =
                run(request.elevate, remove + paths.mid(first, kRemoveBatchSize));
            if (!removed || removed.value() != 0)
                qDebug() << "remove paths error:"
                         << (removed ? QProcess::UnknownError : removed.error())
                         << (removed ? removed.value() : 0) << "in the batch from"
                         << paths.at(first);
        }
    }

    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        return QProcess::startDetached(program, arguments, QDir::currentPath());
    }

    ToolRun runElevated(const QString& program, const QStringList& arguments) override
    {
        return run(true, QStringList{program} + arguments);
    }

    void makeExecutable(const QString& path) override
    {
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    }

    void pause(int milliseconds) override
    {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    }

private:
    // Runs a tool on the client's files, through pkexec where elevated rights are asked for and
    // not already held, and waits for it without a time limit.
    static ToolRun run(bool elevate, QStringList command)
    {
        if (elevate && ::geteuid() != 0)
            command.prepend(QStringLiteral("pkexec"));
        QProcess tool;
        tool.start(command.takeFirst(), command, QIODevice::ReadWrite);
        if (!tool.waitForFinished(-1))
            return ToolRun::failure(tool.error());
        return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : kCrashExitCode;
    }
};

} // namespace

Platform::PathKind Platform::pathKind(const QString& path)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return PathKind::Missing;
    if (S_ISLNK(info.st_mode))
        return PathKind::Link;
    return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::File;
}

bool Platform::openPlainFile(QFile& file, const QString& path)
{
    // Without O_NONBLOCK, opening a FIFO would wait for a writer; reads of a plain file never
    // block.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool Platform::moveFile(const QString& from, const QString& to)
{
    // rename() would replace a file at the new path without a word.
    return !QFileInfo::exists(to) && !QFileInfo(to).isSymLink() &&
           ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool Platform::ownedByProcessUser(const QString& path)
{
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_uid == ::geteuid();
}

bool Platform::writableByOthers(const QString& path)
{
    return (QFile::permissions(path) & (QFile::WriteGroup | QFile::WriteOther)) != 0;
}

// Created with its final mode, so that it is never open to others for a moment.
bool Platform::makePrivateFolder(const QString& path)
{
    return ::mkdir(QFile::encodeName(path).constData(), S_IRWXU) == 0 &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

Platform& Platform::native()
{
    static LinuxPlatform platform;
    return platform;
}
