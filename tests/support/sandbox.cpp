#include "sandbox.h"

#include "clientfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSharedMemory>

namespace {
void copyProgram(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    QFile::copy(from, to);
}
} // namespace

Sandbox::Sandbox(const QString& clientVersion)
{
    m_dir.setAutoRemove(true);
    QDir().mkpath(home() + QStringLiteral("/AppData/Roaming/quorvexAssistant"));
    QDir().mkpath(root() + QStringLiteral("/tmp"));
    copyProgram(QStringLiteral(FAKECLIENT_BINARY), clientDir() + QLatin1Char('/') + clientName());
    copyProgram(QStringLiteral(AUTOUPDATE_BINARY), programDir() + QStringLiteral("/AutoUpdate"));
    writeClientVersion(clientVersion);
}

Sandbox::~Sandbox()
{
    for (QProcess* process : qAsConst(m_processes)) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    releaseSingleInstanceGuard();
}

// An updater killed while it ran leaves its single-instance segment behind. The segment's key
// comes from a file in this sandbox's TMPDIR; a later sandbox whose file happens to get the same
// inode would find the segment taken, so it is removed as the next updater here would.
void Sandbox::releaseSingleInstanceGuard() const
{
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(root() + QStringLiteral("/tmp")));
    QSharedMemory guard(QStringLiteral("KelmAutoUpdate"));
    if (guard.attach())
        guard.detach();
    qputenv("TMPDIR", tmpdir);
}

QString Sandbox::clientDir() const
{
    return home() + QStringLiteral("/Apps/Quorvex");
}

QString Sandbox::programDir() const
{
    return clientDir() + QStringLiteral("/AutoUpdate");
}

QString Sandbox::home() const
{
    return root() + QStringLiteral("/home");
}

QString Sandbox::clientName() const
{
    return QStringLiteral("QuorvexClient");
}

QString Sandbox::updaterDir() const
{
    return home() + QStringLiteral("/AppData/Roaming/AutoUpdate");
}

QString Sandbox::clientDataDir() const
{
    return home() + QStringLiteral("/AppData/Roaming/quorvexAssistant");
}

QByteArray Sandbox::logBytes() const
{
    return ClientFiles::read(updaterDir() + QStringLiteral("/AutoUpdate.log"));
}

void Sandbox::writeInstalledConfig(const QString& checkUrl, const QString& packageUrl,
                                   const QJsonValue& publicKey)
{
    QJsonObject config{{"appName", clientName()},
                       {"appConfigFile", "config/client.json"},
                       {"appPath", clientDir() + "/"},
                       {"updateCheckUrl", checkUrl},
                       {"updatePackageUrl", packageUrl}};
    config.insert("publicKey", publicKey); // an undefined key is left out
    writeRawInstalledConfig(QJsonDocument(config).toJson());
}

void Sandbox::writeRawInstalledConfig(const QByteArray& content)
{
    ClientFiles::write(programDir() + QStringLiteral("/updateconfig.json"), content);
}

void Sandbox::writeClientVersion(const QString& version)
{
    ClientFiles::write(clientDir() + QStringLiteral("/config/client.json"),
                       ClientFiles::config(version));
}

void Sandbox::writeLanguage(const QString& language)
{
    ClientFiles::write(clientDataDir() + QStringLiteral("/language.txt"), language.toUtf8());
}

QProcessEnvironment Sandbox::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home());
    env.insert(QStringLiteral("TMPDIR"), root() + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!m_toolFolder.isEmpty())
        env.insert(QStringLiteral("PATH"), m_toolFolder + QLatin1Char(':') + env.value("PATH"));
    return env;
}

QProcess* Sandbox::startUpdater(const QStringList& arguments)
{
    auto* process = new QProcess;
    m_processes.append(process);
    process->setProcessEnvironment(environment());
    process->start(programDir() + QStringLiteral("/AutoUpdate"), arguments);
    process->waitForStarted();
    return process;
}

bool Sandbox::runUpdater(const QStringList& arguments, int* exitCode, int timeoutMs)
{
    QProcess* process = startUpdater(arguments);
    if (!process->waitForFinished(timeoutMs))
        return false;
    *exitCode = static_cast<signed char>(process->exitCode());
    return process->exitStatus() == QProcess::NormalExit;
}

QProcess* Sandbox::startLingeringClient()
{
    auto* process = new QProcess;
    m_processes.append(process);
    process->setProcessEnvironment(environment());
    process->start(clientDir() + QLatin1Char('/') + clientName(), {QStringLiteral("--linger")});
    process->waitForStarted();
    return process;
}

QList<QStringList> Sandbox::clientLaunches() const
{
    return ClientFiles::launches(clientDir());
}
