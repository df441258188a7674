#include "base/userpaths.h"

#include <QDir>

QString UserPaths::updaterDir()
{
    return QDir::homePath() + QStringLiteral("/AppData/Roaming/AutoUpdate");
}

QString UserPaths::clientDataDir()
{
    return QDir::homePath() + QStringLiteral("/AppData/Roaming/quorvexAssistant");
}

QString UserPaths::notesMarker()
{
    return clientDataDir() + QStringLiteral("/isShowUpdataInfo.txt");
}
