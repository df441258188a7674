#include "install/installedconfig.h"

#include "base/jsonfile.h"
#include "release/releasesignature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kAppPath = QStringLiteral("appPath");

Result<QJsonObject> readObject(const QString& path)
{
    const auto read = JsonFile::read(path);
    if (!read)
        return Result<QJsonObject>::failure(path + QStringLiteral(" is no JSON object"));
    return read.value();
}

// "appPath" may be relative: to the updater's folder, which is the working folder of a run.
QString clientConfigPath(const QString& installed, const QJsonObject& config)
{
    const QString appPath = config.value(kAppPath).toString();
    const QString base = QDir::isAbsolutePath(appPath)
                             ? appPath
                             : QFileInfo(installed).absolutePath() + QLatin1Char('/') + appPath;
    return base + config.value(QStringLiteral("appConfigFile")).toString();
}

} // namespace

Outcome InstalledConfig::keepInstallation(const QString& packaged, const QString& installed)
{
    if (!QFile::exists(packaged))
        return Outcome::success();
    const Result<QJsonObject> release = readObject(packaged);
    const Result<QJsonObject> current = readObject(installed);
    if (!release || !current)
        return Outcome::failure(!release ? release.error() : current.error());
    QJsonObject merged = release.value();
    merged.insert(kAppPath, current->value(kAppPath));
    return JsonFile::replace(packaged, merged);
}

Outcome InstalledConfig::check(const QString& installed, const QString& version)
{
    const Result<QJsonObject> config = readObject(installed);
    if (!config)
        return Outcome::failure(config.error());
    const QString clientConfig = clientConfigPath(installed, config.value());
    const Result<QJsonObject> client = readObject(clientConfig);
    if (!client)
        return Outcome::failure(client.error());
    const QString named = client->value(QStringLiteral("client"))
                              .toObject()
                              .value(QStringLiteral("version"))
                              .toString();
    if (named != version)
        return Outcome::failure(clientConfig + QStringLiteral(" names version ") + named);
    const ReleaseSignature::TrustedKeys keys =
        ReleaseSignature::trustedKeys(config->value(QStringLiteral("publicKey")));
    if (keys.required && keys.keys.isEmpty())
        return Outcome::failure(keys.problem);
    return Outcome::success();
}
