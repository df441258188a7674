#ifndef SANDBOX_H
#define SANDBOX_H

#include <QJsonValue>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// An installed client with the updater inside its folder, as a user's machine has them, for
// running the built program from outside. The client is installed per user, inside HOME, so its
// files are replaced without elevated rights:
//   <root>/home, <root>/tmp                      HOME and TMPDIR of every program started here
//   <home>/Apps/Quorvex/QuorvexClient            the stand-in client, recording its starts
//   <home>/Apps/Quorvex/config/client.json       its configuration, naming its version
//   <home>/Apps/Quorvex/AutoUpdate/AutoUpdate    the updater, with its updateconfig.json
class Sandbox
{
public:
    explicit Sandbox(const QString& clientVersion = QStringLiteral("2.0.3"));
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString clientDir() const;
    QString programDir() const;
    QString home() const;
    QString clientName() const;
    QString updaterDir() const;
    QString clientDataDir() const;
    QByteArray logBytes() const;
    // The path as the program is told it: the same on Linux.
    QString programPath(const QString& path) const { return path; }

    // With a defined publicKey, the updater accepts only releases signed by its key(s).
    void writeInstalledConfig(const QString& checkUrl, const QString& packageUrl,
                              const QJsonValue& publicKey = QJsonValue::Undefined);
    void writeRawInstalledConfig(const QByteArray& content);
    void writeClientVersion(const QString& version);
    void writeLanguage(const QString& language);
    // Programs started from here look for tools in folder first; an empty text undoes it.
    void setToolFolder(const QString& folder) { m_toolFolder = folder; }

    // Starts the updater with its own HOME, TMPDIR and the offscreen platform.
    QProcess* startUpdater(const QStringList& arguments);
    // Runs the updater to its end; false when it did not end in time.
    bool runUpdater(const QStringList& arguments, int* exitCode, int timeoutMs = 30000);
    // Starts the client as the user would, staying alive until killed.
    QProcess* startLingeringClient();

    // The argument lists of every start of the client so far, in order.
    QList<QStringList> clientLaunches() const;

private:
    QProcessEnvironment environment() const;
    void releaseSingleInstanceGuard() const;

    QTemporaryDir m_dir;
    QList<QProcess*> m_processes;
    QString m_toolFolder;
};

#endif // SANDBOX_H
