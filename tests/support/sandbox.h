#ifndef SANDBOX_H
#define SANDBOX_H

#include <QFile>
#include <QJsonValue>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

// An installed client with the updater inside its folder, as a user's machine has them: the Linux
// program, or (built with PROGRAM_UNDER_WINE) the Windows program of a Windows build under Wine in
// the build's prefix, beside the stand-ins nircmd.exe and tasklist.exe. In the client's folder:
// the stand-in client recording its starts, config/client.json, and AutoUpdate/ with the updater.
// On Linux the client lies in HOME, whose files are replaced without elevated rights; under Wine
// in C:/Program Files, where the updater copies and removes with "elevatecmd". Paths are Linux
// paths; programPath() gives one as the program is told it.
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
    // A per-user folder of the programs: "AutoUpdate", "quorvexAssistant".
    QString userDir(const QString& name) const { return m_home + "/AppData/Roaming/" + name; }
    QByteArray logBytes() const;
    QString programPath(const QString& path) const;

    // The updater's configuration and the client's, of version 2.0.3. With a defined publicKey,
    // the updater accepts only releases signed by its key(s).
    void writeInstalledConfig(const QString& checkUrl, const QString& packageUrl,
                              const QJsonValue& publicKey = QJsonValue::Undefined);
    QProcess* startUpdater(const QStringList& arguments);
    // Runs the updater to its end; false when it did not end in time or with an exit code not 0.
    bool runUpdater(const QStringList& arguments);
    // Starts the client as the user would, staying alive until killed.
    QProcess* startLingeringClient();

    // The next copy over the client stops "before" (Linux only) or after doing its work, and
    // stays as a copy still running; copyHeld() tells when it got there.
    void holdCopy(const QString& stage);
    bool copyHeld() const { return QFile::exists(m_heldMarker); }
    // Kills the updater and its held copy, and lets the next copy run.
    void killWithHeldCopy(QProcess* updater);

private:
    QProcess* start(const QString& program, const QStringList& arguments);
    void clearUserFolders() const;

    QTemporaryDir m_dir;
    QString m_home;
    QString m_heldMarker;
    QList<QProcess*> m_processes;
};

#endif // SANDBOX_H
