#pragma once

#include "clientfiles.h"
#include "fakeupdateservice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSharedMemory>

#include <list>
#include <memory>

// The built updater (AUTOUPDATE_BINARY) in AutoUpdate/ of a client folder, run as a user's machine
// runs it against the update service on 127.0.0.1, for the tests that drive the program from
// outside. Its processes end with the test case (endProcesses()).
class UpdaterSandbox
{
protected:
    static constexpr int kRunTimeoutMs = 60000;
    // The service's answer when no update is offered.
    static constexpr const char* kNothingOffered =
        R"({"code":"000000","desc":"","biz":{"update":"0"}})";

    QString m_home;
    QString m_clientDir;
    std::unique_ptr<FakeUpdateService> m_service;
    std::list<QProcess> m_processes;

    virtual ~UpdaterSandbox() = default;
    virtual QProcess* startUpdater(const QStringList& arguments) = 0;

    // A file in the per-user folders of the programs: "AutoUpdate/", "quorvexAssistant/".
    QString userFile(const QString& name) const { return m_home + "/AppData/Roaming/" + name; }
    QByteArray log() const { return ClientFiles::read(userFile("AutoUpdate/AutoUpdate.log")); }

    // The stand-in client of version 2.0.3 in m_clientDir, the updater beside it naming the client
    // and the service, and trusting one key. suffix: the programs' (".exe" for Windows').
    bool installClientAndUpdater(const QString& suffix, const QString& appPath,
                                 const QString& publicKey) const
    {
        QDir().mkpath(m_clientDir + "/AutoUpdate");
        ClientFiles::write(m_clientDir + "/config/client.json", ClientFiles::config("2.0.3"));
        const QJsonObject config{
            {"appName", "QuorvexClient" + suffix},
            {"appConfigFile", "config/client.json"},
            {"appPath", appPath},
            {"updateCheckUrl", QString::fromStdString(m_service->checkUrl())},
            {"updatePackageUrl", QString::fromStdString(m_service->packageUrl())},
            {"publicKey", publicKey}};
        ClientFiles::write(m_clientDir + "/AutoUpdate/updateconfig.json",
                           QJsonDocument(config).toJson());
        return QFile::copy(FAKECLIENT_BINARY, m_clientDir + "/QuorvexClient" + suffix) &&
               QFile::copy(AUTOUPDATE_BINARY, m_clientDir + "/AutoUpdate/AutoUpdate" + suffix);
    }

    // The system's environment with the sandbox's HOME and TMPDIR, and its tools folder looked
    // in first.
    QProcessEnvironment environment(const QString& tmp, const QString& tools) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home);
        env.insert("TMPDIR", tmp);
        env.insert("PATH", tools + ':' + env.value("PATH"));
        return env;
    }

    QProcess* spawn(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& env = {})
    {
        QProcess& process = m_processes.emplace_back();
        if (!env.isEmpty())
            process.setProcessEnvironment(env);
        process.start(program, arguments);
        process.waitForStarted();
        return &process;
    }

    // Runs the updater to its end: nothing when it ended in time with exit code 0, otherwise how
    // it ended, with what it wrote.
    QString runUpdater(const QStringList& arguments)
    {
        QProcess* process = startUpdater(arguments);
        const bool ended = process->waitForFinished(kRunTimeoutMs);
        if (ended && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0)
            return QString();
        return QString("ended %1, status %2, code %3\n%4\n%5")
            .arg(ended)
            .arg(process->exitStatus())
            .arg(process->exitCode())
            .arg(QString::fromLocal8Bit(process->readAllStandardError()), QString(log()));
    }

    void endProcesses()
    {
        for (QProcess& process : m_processes) {
            process.kill();
            process.waitForFinished();
        }
        m_processes.clear();
    }

    // A killed updater leaves its single-instance segment, keyed by a file's inode in its TMPDIR,
    // behind for a later sandbox's file of the same inode: it is removed as the next updater would.
    static void clearInstanceGuard(const QString& tmp)
    {
        const QByteArray tmpdir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmp));
        QSharedMemory guard("KelmAutoUpdate");
        if (guard.attach())
            guard.detach();
        qputenv("TMPDIR", tmpdir);
    }
};
