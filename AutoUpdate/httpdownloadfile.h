#ifndef HTTPDOWNLOADFILE_H
#define HTTPDOWNLOADFILE_H

#include "download/packagedigest.h"

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QTimer;
class UpdateDialog;

// The updater's network client. Built on the main thread, where it creates the prompt, then moved
// to the worker thread: it checks for a newer client, downloads the package and hands it to
// installation.
class HttpDownLoadFile : public QObject
{
    Q_OBJECT

public:
    explicit HttpDownLoadFile(QObject* parent = nullptr);
    ~HttpDownLoadFile() override;

    // Parses the check answer into g_global: true when it names another version than the
    // installed one and passes the signature check.
    static bool AnswerOffersUpdate(QByteArray& answer);
    // Whether the user is to be asked about the offered update, after the reminder choice and
    // the arguments.
    static bool UpdateWanted();

signals:
    void InitCheck();
    void Aupdate(QString updateMode);
    void UpdateBar(qint64 bytesRead, qint64 totalBytes);
    void InstallStarted();

public slots:
    void GetPackData();
    void TimerPro();
    void CheckProcess();
    void ReplyCheckDataRecv(QNetworkReply* Reply);
    void ReplyPackDataRecv();
    void ReplyFinished();
    void ReplyError(QNetworkReply::NetworkError err);
    void DeleteResource();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void PostCheckRequest();
    void CheckWatchdog();
    void HandleCheckAnswer(QNetworkReply* reply);
    void RemoveUpdateNotesMarker();
    void PreparePackagePath();
    void EmptyDownloadFolder();
    qint64 AnnouncedLength() const;
    bool EndedBeforeAnnouncedLength() const;
    bool PackageIntact() const;
    void ShowProgress();
    void AbortDownload();
    void InstallPackage();
    void DownloadWatchdog();
    void StopDownloadWatchdog();
    void ShowDownloadFailure(const QString& message);

    QNetworkAccessManager* m_checkManager = nullptr;
    QNetworkAccessManager* m_downloadManager = nullptr;
    QNetworkReply* m_reply = nullptr;
    int m_postTimerId = 0;
    int m_getTimerId = 0;
    qint64 m_lastActiveMs = 0;
    QFile m_file;
    PackageDigest m_digest;
    qint64 m_received = 0;
    qint64 m_total = -1;
    qint64 m_progressShownMs = 0;
    QTimer* m_progressTimer = nullptr;
    QString m_filePath;
    QString m_packDir;
    UpdateDialog* m_updateDialog = nullptr;
};

#endif // HTTPDOWNLOADFILE_H
