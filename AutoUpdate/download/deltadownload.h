#pragma once

#include "download/updatefailure.h"
#include "release/releaseoffer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class PackageDownload;
class QNetworkAccessManager;
class QNetworkReply;

// The download of a delta: first its small plan, cut at its announced size and handed over to be
// checked, then, once asked for, the delta package itself, digested as it is written and cut at
// its announced size. Any failure is reported once, with its reason, so that the full package is
// fetched instead. Lives on the worker thread.
class DeltaDownload : public QObject
{
    Q_OBJECT

public:
    explicit DeltaDownload(QObject* parent = nullptr);

    // packagePrefix: the address the delta's and the plan's file names are appended to.
    void Start(const DeltaOffer& delta, const QString& packagePrefix, const QString& appName);
    // After PlanFetched: fetches the delta package itself.
    void FetchDelta();
    void DeleteResource();

signals:
    void UpdateBar(qint64 bytesRead, qint64 totalBytes);
    // The plan's bytes, no longer than announced and not yet checked.
    void PlanFetched(const QByteArray& plan);
    // The delta package lies at path, whole and with its digest.
    void Downloaded(const QString& path);
    void NotUsed(const QString& reason);

private slots:
    void PlanReceived();
    void PlanFinished();
    void PackageFailed(UpdateFailure failure);

private:
    void RefusePlan(const QString& reason);
    void ReleasePlanReply();

    QNetworkAccessManager* m_manager = nullptr;
    QNetworkReply* m_planReply = nullptr;
    PackageDownload* m_package;
    DeltaOffer m_delta;
    QString m_packagePrefix;
    QByteArray m_plan;
};
