#pragma once

#include "download/updatefailure.h"
#include "install/deltaplan.h"
#include "release/releaseoffer.h"

#include <QNetworkReply>
#include <QObject>
#include <QString>

class DeltaDownload;
class PackageDownload;
class QNetworkAccessManager;

// The updater's road on the worker thread: checks for a newer client, hands the offered release
// to the prompt, downloads the package the user chose and installs it. It talks to the windows
// only through its signals and slots; they are wired to it where the run is set up.
class HttpDownLoadFile : public QObject
{
    Q_OBJECT

public:
    explicit HttpDownLoadFile(QObject* parent = nullptr);

signals:
    void InitCheck();
    // A release the user is to be asked about.
    void Aupdate(const ReleaseOffer& offer);
    void UpdateBar(qint64 bytesRead, qint64 totalBytes);
    void InstallStarted();
    // A downloaded delta is being rebuilt into the release's tree.
    void RebuildStarted();
    void UpdateFailed(UpdateFailure failure);

public slots:
    void GetPackData();
    void TimerPro();
    void CheckProcess();
    void ReplyCheckDataRecv(QNetworkReply* Reply);
    void DeleteResource();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void PostCheckRequest();
    void LimitCheckAnswer();
    void CheckWatchdog();
    void HandleCheckAnswer(QNetworkReply* reply);
    void RemoveUpdateNotesMarker();
    void InstallPackage(const QString& package);
    void GetFullPackage();
    void FallBackToFullPackage(const QString& reason);
    void CheckDeltaPlan(const QByteArray& plan);
    void InstallDelta(const QString& delta);

    QNetworkAccessManager* m_checkManager = nullptr;
    QNetworkReply* m_reply = nullptr;
    int m_postTimerId = 0;
    qint64 m_lastActiveMs = 0;
    PackageDownload* m_download;
    DeltaDownload* m_deltaDownload;
    ReleaseOffer m_offer;
    // The delta being fetched, from the installed version to m_offer's, and its checked plan.
    DeltaOffer m_delta;
    DeltaPlan m_deltaPlan;
};
