#pragma once

#include "download/updatefailure.h"
#include "release/releaseoffer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class PackageDownload;
class QNetworkAccessManager;
class QNetworkReply;

// The download of a delta: first its small plan, checked with the installed files it patches,
// then the delta package itself, digested as it is written and cut at its announced size. Any
// refusal or failure is reported once, with its reason, so that the full package is fetched
// instead. Lives on the worker thread.
class DeltaDownload : public QObject
{
    Q_OBJECT

public:
    explicit DeltaDownload(QObject* parent = nullptr);

    // packagePrefix: the address the delta's and the plan's file names are appended to.
    void Start(const ReleaseOffer& offer, const DeltaOffer& delta, const QString& packagePrefix,
               const QString& appName);
    void DeleteResource();
    // The installed files the offered release drops, from a plan whose bytes the answer names,
    // whether the delta is then used or not; empty before.
    const QStringList& Dropped() const { return m_dropped; }

signals:
    void UpdateBar(qint64 bytesRead, qint64 totalBytes);
    // The delta package lies at path, whole and with its digest; plan is its checked plan.
    void Downloaded(const QString& path, const QByteArray& plan);
    void NotUsed(const QString& reason);

private slots:
    void PlanReceived();
    void PlanFinished();
    void PackageFailed(UpdateFailure failure);

private:
    void RefusePlan(const QString& reason);

    QNetworkAccessManager* m_manager = nullptr;
    QNetworkReply* m_planReply = nullptr;
    PackageDownload* m_package;
    ReleaseOffer m_offer;
    DeltaOffer m_delta;
    QString m_packagePrefix;
    QByteArray m_plan;
    QStringList m_dropped;
};
