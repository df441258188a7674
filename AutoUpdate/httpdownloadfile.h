#ifndef HTTPDOWNLOADFILE_H
#define HTTPDOWNLOADFILE_H

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
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
    void UpdateDataReadProgress(qint64 bytesRead, qint64 totalBytes);
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
    bool UpdateWanted() const;
    void PreparePackagePath();
    void EmptyDownloadFolder();
    bool EndedBeforeAnnouncedLength() const;
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
    QString m_filePath;
    QString m_packDir;
    UpdateDialog* m_updateDialog = nullptr;
};

#endif // HTTPDOWNLOADFILE_H
