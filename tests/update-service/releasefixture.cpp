#include "releasefixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
}

} // namespace

QString makeClientBuild(const QString& root, const QString& name, const QString& version)
{
    const QDir build(QDir(root).filePath(name));
    writeFile(build.filePath("Quorvex.exe"), "program " + version.toUtf8());
    writeFile(build.filePath("config/client.json"),
              R"({"client":{"version":")" + version.toUtf8() + R"(","server":"x"}})");
    writeFile(build.filePath("plugins/codec.dll"), QByteArray(5000, 'c'));
    build.mkpath("plugins/empty");
    return build.path();
}

updateservice::PublishRequest zipRequest(const QString& buildPath, const QString& version,
                                         const QString& releasesDir)
{
    updateservice::PublishRequest request;
    request.buildPath = buildPath;
    request.version = version;
    request.notesZh = QStringLiteral("修复问题");
    request.notesEn = QStringLiteral("Fixes");
    request.releasesDir = releasesDir;
    return request;
}

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString toolPath()
{
    return QStringLiteral(UPDATE_SERVICE_BINARY);
}

ToolRun runTool(const QStringList& arguments)
{
    QProcess process;
    process.start(toolPath(), arguments);
    ToolRun run;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}
