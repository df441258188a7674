#pragma once

#include "release/releasesignature.h"
#include "runend.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

// The updater's configuration, the client's installed version and language, the run's arguments
// and how the run ends, with the file and process operations on them. The one instance, g_global,
// is shared by both threads without a lock: each member is written by one step of the update
// before the steps that read it. The release on offer is no part of it: the stages hand it on.
class Global : public QObject
{
    Q_OBJECT

public:
    Global() = default;

    // The updater's installed configuration, in its own folder (the working folder of a run).
    static QString InstalledConfigFile();
    // Loads the installed and the per-user configuration, the client's version and language.
    // 0 on success, -1 when the updater cannot work.
    int GetConfig();
    // Records the version the user chose never to be reminded of ("remid") or the version just
    // installed ("version") in the per-user state file. 0 when written, -1 when the file cannot
    // be opened.
    int WriteConfigToFile(QString type, const QString& version);
    // Reads the installed version from the client's configuration into m_currentVersion.
    int GetClientVersion();
    // Writes version into the client's configuration.
    int WriteConfigToClientFile(const QString& version);
    // 0 when the run must end now (the client got what it needs), -1 when the check goes on.
    int CkeckProcess();
    // Starts the client with the forwarded arguments and ends the run.
    int UpAppThread();
    // Starts a downloaded installer instead of the client and ends the run.
    int UpAppInstallThread(QString& program);
    int WriteScptFile(QString& text);

    // Free bytes of the volume holding path; 0 when the system cannot tell.
    qint64 DiskSpaceDetection(QString path);
    // Before a download: the system volume and the working folder's volume each need more than
    // three times the package size free. Returns how the first volume without room is named to
    // the user (the system volume first), or an empty text when both have room.
    QString VolumeLackingSpace(qint64 packageSize);

    QString m_appName;
    QString m_appConfigFile;
    QString m_appPath;
    QString m_updateCheckUrl;
    QString m_getPackUrl;
    QString m_currentVersion;
    QString m_noRemindVersion;
    int m_remide = 0;
    QString m_scptPath;
    QString m_language;
    QStringList m_args;
    ReleaseSignature::TrustedKeys m_publicKeys;
    RunEnd m_runEnd;

private:
    void ReadUserState();
    int ReadInstalledConfig();
    void ReadLanguage();
    void ReadPublicKeys(const QJsonObject& config);
    QString UserStatePath() const;
    QString ClientConfigPath() const;
    QString RunningClientListing() const;
    void StartClient(const QStringList& arguments);
};

extern Global g_global;
