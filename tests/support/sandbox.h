#ifndef SANDBOX_H
#define SANDBOX_H

#include <QJsonValue>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// An installed client with the updater inside its folder, as a user's machine has them, for
// running the built program from outside: the Linux program, or, built with PROGRAM_UNDER_WINE,
// the Windows program of a Windows build under Wine in the build's prefix. In the client folder:
//   QuorvexClient[.exe], config/client.json   the stand-in client, recording its starts
//   AutoUpdate/AutoUpdate[.exe]               the updater, with its updateconfig.json
//   AutoUpdate/nircmd.exe, tasklist.exe       under Wine: stand-ins for the tools Wine lacks
// On Linux the client lies in HOME (<root>/home/Apps/Quorvex, TMPDIR <root>/tmp), so its files
// are replaced without elevated rights. Under Wine it lies in C:/Program Files, on the profile's
// drive outside the profile, so the updater copies and removes with "elevatecmd"; the profile's
// per-user folders are emptied before and after. Paths given and taken are Linux paths.
class Sandbox
{
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    bool isValid() const { return m_dir.isValid() && !m_home.isEmpty(); }
    QString clientDir() const;
    QString programDir() const { return clientDir() + QStringLiteral("/AutoUpdate"); }
    QString clientName() const;
    QString updaterDir() const { return m_home + QStringLiteral("/AppData/Roaming/AutoUpdate"); }
    QString clientDataDir() const;
    QByteArray logBytes() const;
    // The path as the program is told it: "C:/..." under Wine.
    QString programPath(const QString& path) const;

    // With a defined publicKey, the updater accepts only releases signed by its key(s).
    void writeInstalledConfig(const QString& checkUrl, const QString& packageUrl,
                              const QJsonValue& publicKey = QJsonValue::Undefined);
    void writeLanguage(const QString& language);

    QProcess* startUpdater(const QStringList& arguments);
    // Runs the updater to its end; false when it did not end in time.
    bool runUpdater(const QStringList& arguments, int* exitCode);
    // Starts the client as the user would, staying alive until killed.
    QProcess* startLingeringClient();
    // The argument lists of every start of the client so far, in order.
    QList<QStringList> clientLaunches() const;

    // The next copy over the client stops "before" (Linux only) or "after" doing its work, and
    // stays as a copy still running; copyHeld() tells when it got there.
    void holdCopy(const QString& stage);
    bool copyHeld() const;
    // Kills the updater and its held copy, and lets the next copy run.
    void killWithHeldCopy(QProcess* updater);

private:
    QProcess* start(const QString& program, const QStringList& arguments);
    void install(const QString& from, const QString& to) const;
    void clearUserFolders() const;

    QTemporaryDir m_dir;
    QString m_home;
    QList<QProcess*> m_processes;
};

#endif // SANDBOX_H
