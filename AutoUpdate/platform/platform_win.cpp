#include "platform/platform.h"

#include "platform/helperrun.h"

#include <QDebug>
#include <QDir>
#include <QProcess>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <sddl.h>

namespace {

constexpr int kProcessQueryTimeoutMs = 30000;
// Paths from this length on need the long-path prefix in the system's wide calls (MAX_PATH less
// room for an 8.3 name, as CreateDirectoryW counts it).
constexpr int kLongPathLength = 248;

// The path as the system's wide calls take it: long ones with the "\\?\" prefix, which lifts the
// 260-character limit (Qt's own file calls do the same).
std::wstring widePath(const QString& path)
{
    QString native = QDir::toNativeSeparators(QDir::cleanPath(path));
    if (native.size() >= kLongPathLength && QDir::isAbsolutePath(path) &&
        !native.startsWith(QStringLiteral("\\\\?\\"))) {
        native = native.startsWith(QStringLiteral("\\\\"))
                     ? QStringLiteral("\\\\?\\UNC\\") + native.mid(2)
                     : QStringLiteral("\\\\?\\") + native;
    }
    return native.toStdWString();
}
// Time for the user to answer the elevation prompt.
constexpr int kCopyStartLimitMs = 120000;
// A copy whose heartbeat stops this long has died.
constexpr int kCopySilenceLimitMs = 30000;

class WindowsPlatform final : public Platform
{
public:
    QString queryProcesses(const QString& imageName) override
    {
        QProcess tasklist;
        tasklist.start(QStringLiteral("tasklist"),
                       {QStringLiteral("/FO"), QStringLiteral("CSV"), QStringLiteral("/FI"),
                        QStringLiteral("IMAGENAME eq %1").arg(imageName)},
                       QIODevice::ReadWrite);
        tasklist.waitForFinished(kProcessQueryTimeoutMs);
        return QString::fromLocal8Bit(tasklist.readAllStandardOutput().constData());
    }

    void killProcesses(const QString& imageName) override
    {
        QProcess taskkill;
        taskkill.start(QStringLiteral("taskkill"),
                       {QStringLiteral("/im"), imageName, QStringLiteral("/f")});
        taskkill.waitForFinished(-1);
    }

    Result<qint64, Failure> freeSpace(const QString& path) override
    {
        ULARGE_INTEGER totalFree{};
        const std::wstring wide = path.toStdWString();
        if (!GetDiskFreeSpaceExW(wide.c_str(), nullptr, nullptr, &totalFree))
            return Result<qint64, Failure>::failure(
                {QStringLiteral("GetDiskFreeSpaceExW failed"), static_cast<int>(GetLastError())});
        return static_cast<qint64>(totalFree.QuadPart);
    }

    QString systemVolume() const override { return QStringLiteral("C:\\"); }

    QString workingVolume() const override { return QDir::currentPath().left(3); }

    QString volumeLabel(const QString& path) const override { return path.left(1); }

    ToolRun copyTree(const CopyRequest& request) override
    {
        HelperRun::prepare(request.helper.verdictPath, kCopySilenceLimitMs);
        return runHelper(request.helper, HelperRun::copyArguments(request));
    }

    // The removal runs with the rights of the copy that added the files: where the copy needed
    // elevation, so does removing what it added.
    void removePaths(const RemovalRequest& request) override
    {
        if (request.paths.isEmpty())
            return;
        const QString verdict = request.helper.verdictPath;
        if (!HelperRun::prepareRemoval(verdict, request.paths, kCopySilenceLimitMs)) {
            qDebug() << "remove paths error: list not written" << verdict;
            return;
        }
        const ToolRun removed = runHelper(request.helper, HelperRun::removalArguments(request));
        if (!removed || removed.value() != 0)
            qDebug() << "remove paths error:"
                     << (removed ? QProcess::UnknownError : removed.error())
                     << (removed ? removed.value() : 0);
    }

    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        return QProcess::startDetached(program, arguments, QDir::currentPath());
    }

    ToolRun runElevated(const QString& program, const QStringList& arguments) override
    {
        QProcess nircmd;
        nircmd.start(QStringLiteral("nircmd.exe"),
                     QStringList{QStringLiteral("elevatecmd"), QStringLiteral("execmd"),
                                 HelperRun::toBackslashes(program)} +
                         arguments,
                     QIODevice::ReadWrite);
        if (!nircmd.waitForFinished(-1))
            return ToolRun::failure(nircmd.error());
        return nircmd.exitCode();
    }

    void makeExecutable(const QString&) override {}

    void pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

private:
    // nircmd's own end and exit code tell nothing of the command it launched; the helper leaves
    // its verdict.
    static ToolRun runHelper(const Helper& helper, const QStringList& nircmdArguments)
    {
        QProcess nircmd;
        nircmd.start(QStringLiteral("nircmd.exe"), nircmdArguments, QIODevice::ReadWrite);
        if (!nircmd.waitForFinished(-1))
            return ToolRun::failure(nircmd.error());
        const Result<int> verdict =
            HelperRun::await(helper.verdictPath, kCopyStartLimitMs, kCopySilenceLimitMs);
        if (!verdict)
            return ToolRun::failure(QProcess::Crashed);
        return verdict.value();
    }
};

} // namespace

Platform::PathKind Platform::pathKind(const QString& path)
{
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return PathKind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction itself, which is then refused.
bool Platform::openPlainFile(QFile& file, const QString& path)
{
    const HANDLE handle =
        CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool plain =
        GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    const int fd = plain ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY) : -1;
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        _close(fd);
        return false;
    }
    return true;
}

bool Platform::moveFile(const QString& from, const QString& to)
{
    return MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), 0) != 0;
}

bool Platform::ownedByProcessUser(const QString& path)
{
    return pathKind(path) != PathKind::Missing;
}

// The access rules of the folder hold this: below Program Files only administrators and the
// system may write.
bool Platform::writableByOthers(const QString&)
{
    return false;
}

// Full control for the system and administrators only, not inherited from the parent ("P") and
// handed on to everything created below ("OICI").
bool Platform::makePrivateFolder(const QString& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const bool made = CreateDirectoryW(widePath(path).c_str(), &attributes) != 0;
    LocalFree(descriptor);
    return made;
}

Platform& Platform::native()
{
    static WindowsPlatform platform;
    return platform;
}
