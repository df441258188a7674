#pragma once

#include "base/packagedigest.h"
#include "download/updatefailure.h"
#include "release/releaseoffer.h"

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QTimer;

// The download of an offered package: the release in, the package file out, checked against the
// release's size and digests as it is written. Lives on the worker thread; a retry starts it
// again from an empty download folder.
class PackageDownload : public QObject
{
    Q_OBJECT

public:
    explicit PackageDownload(QObject* parent = nullptr);

    // Names the package file in the download folder of the client program appName.
    void PreparePackagePath(const ReleaseOffer& offer, const QString& appName);
    // Fetches the package from address into the prepared file.
    void Start(const QUrl& address);
    // Releases the network objects; called on the worker thread as it ends.
    void DeleteResource();

signals:
    void UpdateBar(qint64 bytesRead, qint64 totalBytes);
    // The package file lies at path, whole and matching the release's digests.
    void Verified(const QString& path);
    void Failed(UpdateFailure failure);
    // The package file cannot even be created: there is nothing to retry.
    void FileNotCreated();

private slots:
    void ReplyPackDataRecv();
    void ReplyFinished();
    void ReplyError(QNetworkReply::NetworkError err);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void EmptyDownloadFolder();
    bool WriteBlock(const QByteArray& block);
    qint64 AnnouncedLength() const;
    bool EndedBeforeAnnouncedLength() const;
    bool PackageIntact() const;
    void ShowProgress();
    void AbortDownload();
    void StopWatchdog();

    ReleaseOffer m_offer;
    QNetworkAccessManager* m_manager = nullptr;
    QNetworkReply* m_reply = nullptr;
    QFile m_file;
    PackageDigest m_digest;
    QString m_packDir;
    QString m_filePath;
    int m_watchdogId = 0;
    qint64 m_lastActiveMs = 0;
    qint64 m_received = 0;
    qint64 m_total = -1;
    qint64 m_progressShownMs = 0;
    QTimer* m_progressTimer = nullptr;
};
