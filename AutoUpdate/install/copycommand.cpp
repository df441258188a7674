#include "install/copycommand.h"

#include "base/userpaths.h"
#include "install/copymode.h"
#include "install/packageunpacker.h"
#include "platform/helperrun.h"

#include <QFileInfo>

QString CopyCommand::targetFolder(const QString& workingFolder)
{
    return workingFolder.left(workingFolder.lastIndexOf(QLatin1Char('/')));
}

bool CopyCommand::needsElevation(const QString& backslashTarget, const QString& backslashHome)
{
    if (backslashTarget.isEmpty() || backslashHome.isEmpty())
        return false;
    return !backslashTarget.contains(backslashHome) && backslashTarget.at(0) == backslashHome.at(0);
}

Platform::CopyRequest CopyCommand::unpackedTreeCopy(const QString& package,
                                                    const QString& workingFolder,
                                                    const QString& home)
{
    const QString tree =
        QFileInfo(package).path() + QLatin1Char('/') + PackageUnpacker::topFolderName(package);
    const QString target = targetFolder(workingFolder);
    return request(
        tree, target,
        needsElevation(HelperRun::toBackslashes(target), HelperRun::toBackslashes(home)));
}

Platform::CopyRequest CopyCommand::request(const QString& source, const QString& target,
                                           bool elevate)
{
    Platform::CopyRequest request;
    request.source = source;
    request.target = target;
    request.elevate = elevate;
    request.helper = {CopyMode::program(),
                      UserPaths::updaterDir() + QStringLiteral("/copy-verdict")};
    return request;
}

Platform::RemovalRequest CopyCommand::removal(const QStringList& paths, bool elevate)
{
    Platform::RemovalRequest removal;
    removal.paths = paths;
    removal.elevate = elevate;
    removal.helper = {CopyMode::program(),
                      UserPaths::updaterDir() + QStringLiteral("/remove-verdict")};
    return removal;
}
