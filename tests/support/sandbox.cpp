#include "sandbox.h"

#include "clientfiles.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSharedMemory>

#include <csignal>

namespace {
void install(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::copy(from, to);
}

#ifdef PROGRAM_UNDER_WINE
const QString kProgramSuffix = QStringLiteral(".exe");

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
#else
const QString kProgramSuffix;
#endif
} // namespace

#ifdef PROGRAM_UNDER_WINE
Sandbox::Sandbox()
    : m_dir(driveC() + QStringLiteral("/Program Files/Quorvex Client XXXXXX")),
      m_home(userProfile()), m_heldMarker(programDir() + QStringLiteral("/nircmd.held"))
{
    clearUserFolders();
    for (const QString& program : {QStringLiteral("nircmd.exe"), QStringLiteral("tasklist.exe"),
                                   QStringLiteral("AutoUpdate.exe")})
        install(WINDOWS_PROGRAMS "/" + program, programDir() + '/' + program);
    install(WINDOWS_PROGRAMS "/" + clientName(), clientDir() + '/' + clientName());
}

QString Sandbox::clientDir() const
{
    return m_dir.path();
}

QString Sandbox::programPath(const QString& path) const
{
    return QStringLiteral("C:") + path.mid(driveC().size());
}

QProcess* Sandbox::start(const QString& program, const QStringList& arguments)
{
    auto* process = new QProcess;
    m_processes.append(process);
    process->start(QStringLiteral(WINE_PROGRAM), QStringList{programPath(program)} + arguments);
    process->waitForStarted();
    return process;
}

// The stand-in nircmd.exe holds after its command while "nircmd.hold" lies beside it.
void Sandbox::holdCopy(const QString&)
{
    ClientFiles::write(programDir() + QStringLiteral("/nircmd.hold"), "");
}

void Sandbox::killWithHeldCopy(QProcess* updater)
{
    QProcess::execute(QStringLiteral(WINE_PROGRAM),
                      {"taskkill", "/f", "/im", "AutoUpdate.exe", "/im", "nircmd.exe"});
    updater->waitForFinished();
    QFile::remove(programDir() + QStringLiteral("/nircmd.hold"));
    QFile::remove(m_heldMarker);
}
#else
Sandbox::Sandbox()
    : m_home(m_dir.filePath(QStringLiteral("home"))),
      m_heldMarker(m_dir.filePath(QStringLiteral("copy.pid")))
{
    QDir().mkpath(m_dir.filePath(QStringLiteral("tmp")));
    install(QStringLiteral(FAKECLIENT_BINARY), clientDir() + '/' + clientName());
    install(QStringLiteral(AUTOUPDATE_BINARY), programDir() + QStringLiteral("/AutoUpdate"));
}

QString Sandbox::clientDir() const
{
    return m_home + QStringLiteral("/Apps/Quorvex");
}

QString Sandbox::programPath(const QString& path) const
{
    return path;
}

// Programs run with the sandbox's HOME and TMPDIR, and look for cp in its tools folder first.
QProcess* Sandbox::start(const QString& program, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home);
    env.insert(QStringLiteral("TMPDIR"), m_dir.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("PATH"), m_dir.filePath("tools:") + env.value("PATH"));
    auto* process = new QProcess;
    m_processes.append(process);
    process->setProcessEnvironment(env);
    process->start(program, arguments);
    process->waitForStarted();
    return process;
}

// cp as the copy over the client runs it: copies (but "before"), then leaves its process id in
// copy.pid and waits to be killed.
void Sandbox::holdCopy(const QString& stage)
{
    const QString cp = m_dir.filePath(QStringLiteral("tools/cp"));
    ClientFiles::write(cp, QStringLiteral("#!/bin/sh\n[ %1 = before ] || /bin/cp \"$@\"\n"
                                          "echo $$ >\"%2.part\" && mv \"%2.part\" \"%2\"\n"
                                          "exec sleep 60\n")
                               .arg(stage, m_heldMarker)
                               .toUtf8());
    QFile::setPermissions(cp, QFile::permissions(cp) | QFile::ExeOwner);
}

void Sandbox::killWithHeldCopy(QProcess* updater)
{
    ::kill(static_cast<pid_t>(updater->processId()), SIGKILL);
    ::kill(static_cast<pid_t>(ClientFiles::read(m_heldMarker).trimmed().toLongLong()), SIGKILL);
    updater->waitForFinished();
    QFile::remove(m_dir.filePath(QStringLiteral("tools/cp")));
}
#endif

Sandbox::~Sandbox()
{
    for (QProcess* process : qAsConst(m_processes)) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    clearUserFolders();
}

QString Sandbox::clientName() const
{
    return QStringLiteral("QuorvexClient") + kProgramSuffix;
}

QByteArray Sandbox::logBytes() const
{
    return ClientFiles::read(userDir(QStringLiteral("AutoUpdate/AutoUpdate.log")));
}

void Sandbox::writeInstalledConfig(const QString& checkUrl, const QString& packageUrl,
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
    ClientFiles::write(clientDir() + QStringLiteral("/config/client.json"),
                       ClientFiles::config(QStringLiteral("2.0.3")));
    QDir().mkpath(userDir(QStringLiteral("quorvexAssistant")));
}

QProcess* Sandbox::startUpdater(const QStringList& arguments)
{
    return start(programDir() + QStringLiteral("/AutoUpdate") + kProgramSuffix, arguments);
}

bool Sandbox::runUpdater(const QStringList& arguments)
{
    QProcess* process = startUpdater(arguments);
    return process->waitForFinished(60000) && process->exitStatus() == QProcess::NormalExit &&
           process->exitCode() == 0;
}

QProcess* Sandbox::startLingeringClient()
{
    return start(clientDir() + '/' + clientName(), {QStringLiteral("--linger")});
}

// Under Wine the per-user folders are the profile's own. On Linux an updater killed while it ran
// leaves its single-instance segment behind, whose key comes from a file in this sandbox's TMPDIR:
// a later sandbox whose file got the same inode would find it taken, so it is removed as the next
// updater here would.
void Sandbox::clearUserFolders() const
{
#ifdef PROGRAM_UNDER_WINE
    if (m_home.isEmpty())
        return;
    QDir(userDir(QStringLiteral("AutoUpdate"))).removeRecursively();
    QDir(userDir(QStringLiteral("quorvexAssistant"))).removeRecursively();
#else
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(m_dir.filePath(QStringLiteral("tmp"))));
    QSharedMemory guard(QStringLiteral("KelmAutoUpdate"));
    if (guard.attach())
        guard.detach();
    qputenv("TMPDIR", tmpdir);
#endif
}
