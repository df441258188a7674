#pragma once

#include "base/result.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// The thin layer through which the updater reaches the operating system. It carries out what it
// is asked and decides nothing: which process counts as the client, whether a copy needs
// elevation and which volume a message names are decided by the callers, the same way on every
// system. Tests put a fake in its place with Platform::setCurrent().
class Platform
{
public:
    // The updater's own program where the system runs the copy through a helper (Windows), and
    // the file where that helper leaves its verdict.
    struct Helper
    {
        QString program;
        QString verdictPath;
    };

    // The copy of the content of folder source over folder target, forward slashes.
    struct CopyRequest
    {
        QString source;
        QString target;
        bool elevate = false;
        Helper helper;
    };

    // The removal of files, and of the folders among paths that are empty, in the order given.
    struct RemovalRequest
    {
        QStringList paths;
        bool elevate = false;
        Helper helper;
    };

    // A tool's run: its exit code (-1 when it crashed), or why it could not be started or
    // waited for.
    using ToolRun = Result<int, QProcess::ProcessError>;

    virtual ~Platform() = default;

    // The text of a process listing filtered by image name: tasklist's CSV output on Windows, one
    // line per matching process elsewhere. Empty when the query fails.
    virtual QString queryProcesses(const QString& imageName) = 0;
    // Ends every process of the current user running the program imageName, and waits for it.
    virtual void killProcesses(const QString& imageName) = 0;
    // Free bytes of the volume holding path; a failure's code is GetLastError() on Windows, errno
    // elsewhere.
    virtual Result<qint64, Failure> freeSpace(const QString& path) = 0;
    // Root of the system volume ("C:\" on Windows).
    virtual QString systemVolume() const = 0;
    // The path that stands for the volume of the working folder.
    virtual QString workingVolume() const = 0;
    // How the volume of a path is named to the user: a drive letter, or a mount point.
    virtual QString volumeLabel(const QString& path) const = 0;
    // Runs the copy and waits for it without a time limit.
    virtual ToolRun copyTree(const CopyRequest& request) = 0;
    // Removes what the request lists, with elevated rights where asked. What is left is for the
    // caller to look at.
    virtual void removePaths(const RemovalRequest& request) = 0;
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
    // Runs program with elevated rights and waits as far as the system lets: for its end on
    // Linux (pkexec, or the program itself when already root), its exit code then; for the
    // launch only on Windows (nircmd elevatecmd execmd). The program's verdict tells the rest.
    virtual ToolRun runElevated(const QString& program, const QStringList& arguments) = 0;
    // Lets the owner run a downloaded program where the system asks for it.
    virtual void makeExecutable(const QString& path) = 0;
    virtual void pause(int milliseconds) = 0;

    // What is at a path, the path itself never followed: a symbolic link (or, on Windows, a
    // junction or other reparse point) is a Link wherever it leads, and a write to it or below it
    // would land there; a file merely named like a Windows shortcut is a File.
    enum class PathKind { Missing, File, Folder, Link };
    static PathKind pathKind(const QString& path);
    // Opens a file for reading only where the path is a plain file, never followed. The open
    // itself decides, so a file another user may change cannot be swapped for a link, or for a
    // FIFO that would block the reader, between a look at it and its opening. Others may read the
    // file meanwhile, not change it, where the system allows that (Windows).
    static bool openPlainFile(QFile& file, const QString& path);
    // Gives a file another path on the same volume, never by copying it: false where the system
    // will not (another volume, no right to remove it from its folder, a file at the new path).
    static bool moveFile(const QString& from, const QString& to);
    // Whether the path itself (never followed) belongs to the running process's user, so that
    // nobody with fewer rights can have put it there. Windows leaves that to the folder's access
    // rules: true wherever the path exists.
    static bool ownedByProcessUser(const QString& path);
    // Whether users other than the process's own may add to or change what is at the path. On
    // Windows the folder's access rules decide that, and a folder below Program Files inherits
    // rules under which only administrators and the system may write: false there.
    static bool writableByOthers(const QString& path);
    // Creates a folder that no one but the process's user (on Windows: administrators and the
    // system, whatever the parent's rules) may list, read or change, nor anything put in it.
    static bool makePrivateFolder(const QString& path);

    static Platform& current();
    // Replaces the system layer, for tests; nullptr restores the native one.
    static void setCurrent(Platform* platform);

private:
    static Platform& native();
};
