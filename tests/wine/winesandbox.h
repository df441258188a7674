#ifndef WINESANDBOX_H
#define WINESANDBOX_H

#include <QJsonValue>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The Windows program of a Windows build installed as on a user's machine, inside the build's
// Wine prefix, for running it under Wine from Linux. In C:/Program Files/Quorvex Client XXXXXX:
//   QuorvexClient.exe, config/client.json   the stand-in client, recording its starts
//   AutoUpdate/AutoUpdate.exe               the updater, with its updateconfig.json
//   AutoUpdate/nircmd.exe, tasklist.exe     stand-ins for the tools Wine lacks
// The user's per-user folders, C:/users/<user>/AppData/Roaming/{AutoUpdate,quorvexAssistant},
// are emptied before and after. The installation folder lies on the profile's drive outside the
// profile, so the updater copies with "elevatecmd". Paths given and taken are Linux paths unless
// a name says otherwise.
class WineSandbox
{
public:
    explicit WineSandbox(const QString& clientVersion = QStringLiteral("2.0.3"));
    ~WineSandbox();
    WineSandbox(const WineSandbox&) = delete;
    WineSandbox& operator=(const WineSandbox&) = delete;

    // False when the prefix has no single user profile.
    bool isValid() const { return !m_profile.isEmpty() && m_client.isValid(); }
    QString clientDir() const { return m_client.path(); }
    QString programDir() const;
    QString clientName() const;
    QString updaterDir() const;
    QString clientDataDir() const;
    QByteArray logBytes() const;
    // The path as the program is told it: "C:/..." for a path in the prefix's drive C:.
    QString programPath(const QString& path) const;

    // With a defined publicKey, the updater accepts only releases signed by its key(s).
    void writeInstalledConfig(const QString& checkUrl, const QString& packageUrl,
                              const QJsonValue& publicKey = QJsonValue::Undefined);
    void writeLanguage(const QString& language);

    // Starts the updater under Wine with the offscreen platform.
    QProcess* startUpdater(const QStringList& arguments);
    // Runs the updater to its end; false when it did not end in time.
    bool runUpdater(const QStringList& arguments, int* exitCode, int timeoutMs = 60000);
    // Starts the client as the user would, staying alive for a minute.
    QProcess* startLingeringClient();
    QList<QStringList> clientLaunches() const;

private:
    QProcess* startUnderWine(const QString& program, const QStringList& arguments);
    void emptyUserFolders() const;

    QString m_profile;
    QTemporaryDir m_client;
    QList<QProcess*> m_processes;
};

#endif // WINESANDBOX_H
