#include "winesandbox.h"

#include "clientfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QString driveC()
{
    return QString::fromLocal8Bit(qgetenv("WINEPREFIX")) + QStringLiteral("/drive_c");
}

// The one user profile of the prefix, named after the Linux user who made it.
QString userProfile()
{
    const QDir users(driveC() + QStringLiteral("/users"));
    QStringList names = users.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    names.removeAll(QStringLiteral("Public"));
    return names.size() == 1 ? users.filePath(names.first()) : QString();
}

void copyProgram(const QString& name, const QString& folder)
{
    QDir().mkpath(folder);
    QFile::copy(QStringLiteral(WINDOWS_PROGRAMS "/") + name, folder + QLatin1Char('/') + name);
}
} // namespace

WineSandbox::WineSandbox(const QString& clientVersion)
    : m_profile(userProfile()),
      m_client(driveC() + QStringLiteral("/Program Files/Quorvex Client XXXXXX"))
{
    if (!isValid())
        return;
    emptyUserFolders();
    QDir().mkpath(clientDataDir());
    copyProgram(clientName(), clientDir());
    for (const char* program : {"AutoUpdate.exe", "nircmd.exe", "tasklist.exe"})
        copyProgram(QString::fromLatin1(program), programDir());
    ClientFiles::write(clientDir() + QStringLiteral("/config/client.json"),
                       ClientFiles::config(clientVersion));
}

WineSandbox::~WineSandbox()
{
    for (QProcess* process : qAsConst(m_processes)) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    emptyUserFolders();
}

QString WineSandbox::programDir() const
{
    return clientDir() + QStringLiteral("/AutoUpdate");
}

QString WineSandbox::clientName() const
{
    return QStringLiteral("QuorvexClient.exe");
}

QString WineSandbox::updaterDir() const
{
    return m_profile + QStringLiteral("/AppData/Roaming/AutoUpdate");
}

QString WineSandbox::clientDataDir() const
{
    return m_profile + QStringLiteral("/AppData/Roaming/quorvexAssistant");
}

QByteArray WineSandbox::logBytes() const
{
    return ClientFiles::read(updaterDir() + QStringLiteral("/AutoUpdate.log"));
}

QString WineSandbox::programPath(const QString& path) const
{
    return QStringLiteral("C:") + path.mid(driveC().size());
}

void WineSandbox::writeInstalledConfig(const QString& checkUrl, const QString& packageUrl,
                                       const QJsonValue& publicKey)
{
    QJsonObject config{{"appName", clientName()},
                       {"appConfigFile", "config/client.json"},
                       {"appPath", programPath(clientDir()) + "/"},
                       {"updateCheckUrl", checkUrl},
                       {"updatePackageUrl", packageUrl}};
    config.insert("publicKey", publicKey); // an undefined key is left out
    ClientFiles::write(programDir() + QStringLiteral("/updateconfig.json"),
                       QJsonDocument(config).toJson());
}

void WineSandbox::writeLanguage(const QString& language)
{
    ClientFiles::write(clientDataDir() + QStringLiteral("/language.txt"), language.toUtf8());
}

QProcess* WineSandbox::startUpdater(const QStringList& arguments)
{
    return startUnderWine(programDir() + QStringLiteral("/AutoUpdate.exe"), arguments);
}

bool WineSandbox::runUpdater(const QStringList& arguments, int* exitCode, int timeoutMs)
{
    QProcess* process = startUpdater(arguments);
    if (!process->waitForFinished(timeoutMs))
        return false;
    *exitCode = static_cast<signed char>(process->exitCode());
    return process->exitStatus() == QProcess::NormalExit;
}

QProcess* WineSandbox::startLingeringClient()
{
    return startUnderWine(clientDir() + QLatin1Char('/') + clientName(),
                          {QStringLiteral("--linger")});
}

QList<QStringList> WineSandbox::clientLaunches() const
{
    return ClientFiles::launches(clientDir());
}

QProcess* WineSandbox::startUnderWine(const QString& program, const QStringList& arguments)
{
    auto* process = new QProcess;
    m_processes.append(process);
    process->start(QStringLiteral(WINE_PROGRAM), QStringList{programPath(program)} + arguments);
    process->waitForStarted();
    return process;
}

void WineSandbox::emptyUserFolders() const
{
    if (m_profile.isEmpty())
        return;
    QDir(updaterDir()).removeRecursively();
    QDir(clientDataDir()).removeRecursively();
}
