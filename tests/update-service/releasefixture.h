#ifndef RELEASEFIXTURE_H
#define RELEASEFIXTURE_H

#include "publisher.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A client build as the build produces it, below root/name:
//   Quorvex.exe, config/client.json (naming version), plugins/codec.dll, plugins/empty/
QString makeClientBuild(const QString& root, const QString& name, const QString& version);

updateservice::PublishRequest zipRequest(const QString& buildPath, const QString& version,
                                         const QString& releasesDir);

QByteArray readWholeFile(const QString& path);

struct ToolRun
{
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs the update-service program to its end.
ToolRun runTool(const QStringList& arguments);
QString toolPath();

#endif // RELEASEFIXTURE_H
