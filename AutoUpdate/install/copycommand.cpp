#include "install/copycommand.h"

#include "base/userpaths.h"
#include "install/copymode.h"

QString CopyCommand::sourcePattern(const QString& packagePath)
{
    return packagePath.split(QStringLiteral(".zip")).first() + QStringLiteral("/*");
}

QString CopyCommand::targetFolder(const QString& workingFolder)
{
    return workingFolder.left(workingFolder.lastIndexOf(QLatin1Char('/')));
}

QString CopyCommand::toBackslashes(QString path)
{
    return path.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

bool CopyCommand::needsElevation(const QString& backslashTarget, const QString& backslashHome)
{
    if (backslashTarget.isEmpty() || backslashHome.isEmpty())
        return false;
    return !backslashTarget.contains(backslashHome) && backslashTarget.at(0) == backslashHome.at(0);
}

QStringList CopyCommand::copyArguments(const QString& backslashVerdict,
                                       const QString& backslashSource,
                                       const QString& backslashTarget)
{
    return {CopyMode::switchName(), backslashVerdict, QStringLiteral("xcopy"), QStringLiteral("/e"),
            QStringLiteral("/y"),   backslashSource,  backslashTarget};
}

QStringList CopyCommand::nircmdArguments(const QString& backslashProgram,
                                         const QStringList& copyModeArguments, bool elevate)
{
    QStringList arguments;
    if (elevate)
        arguments << QStringLiteral("elevatecmd");
    arguments << QStringLiteral("execmd") << backslashProgram;
    return arguments + copyModeArguments;
}

Platform::CopyRequest CopyCommand::request(const QString& source, const QString& target,
                                           bool elevate)
{
    Platform::CopyRequest request;
    request.verdictPath = UserPaths::updaterDir() + QStringLiteral("/copy-verdict");
    request.nircmdArguments = nircmdArguments(
        toBackslashes(CopyMode::program()),
        copyArguments(toBackslashes(request.verdictPath),
                      toBackslashes(source + QStringLiteral("/*")), toBackslashes(target)),
        elevate);
    request.source = source;
    request.target = target;
    request.elevate = elevate;
    return request;
}

Platform::CopyRequest CopyCommand::removal(bool elevate)
{
    Platform::CopyRequest removal;
    removal.verdictPath = UserPaths::updaterDir() + QStringLiteral("/remove-verdict");
    removal.nircmdArguments =
        nircmdArguments(toBackslashes(CopyMode::program()),
                        {CopyMode::removalSwitchName(), toBackslashes(removal.verdictPath),
                         toBackslashes(CopyMode::pathListPath(removal.verdictPath))},
                        elevate);
    removal.elevate = elevate;
    return removal;
}
