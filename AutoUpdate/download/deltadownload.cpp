#include "download/deltadownload.h"

#include "base/timing.h"
#include "download/packagedownload.h"
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// The delta's own record for the package download: only its size and SHA-256 are known.
ReleaseOffer DeltaPackage(const DeltaOffer& delta)
{
    ReleaseOffer package;
    package.url = delta.url;
    package.packageSize = delta.size;
    package.sha256 = delta.sha256;
    return package;
}

} // namespace

DeltaDownload::DeltaDownload(QObject* parent)
    : QObject(parent), m_package(new PackageDownload(this))
{
    connect(m_package, &PackageDownload::UpdateBar, this, &DeltaDownload::UpdateBar);
    connect(m_package, &PackageDownload::Failed, this, &DeltaDownload::PackageFailed);
    connect(m_package, &PackageDownload::FileNotCreated, this,
            [this] { emit NotUsed(QStringLiteral("the delta's file cannot be created")); });
    connect(m_package, &PackageDownload::Verified, this, &DeltaDownload::Downloaded);
}

void DeltaDownload::Start(const DeltaOffer& delta, const QString& packagePrefix,
                          const QString& appName)
{
    m_delta = delta;
    m_packagePrefix = packagePrefix;
    m_plan.clear();
    m_package->PreparePackagePath(DeltaPackage(delta), appName);
    if (!m_manager)
        m_manager = new QNetworkAccessManager;
    QNetworkRequest request(QUrl(packagePrefix + delta.planUrl, QUrl::TolerantMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(Timing::current().downloadStallMs));
    m_planReply = m_manager->get(request);
    m_planReply->setReadBufferSize(delta.planSize + 1);
    connect(m_planReply, &QIODevice::readyRead, this, &DeltaDownload::PlanReceived);
    connect(m_planReply, &QNetworkReply::finished, this, &DeltaDownload::PlanFinished);
}

// A plan is never longer than announced; the rest is not fetched.
void DeltaDownload::PlanReceived()
{
    m_plan += m_planReply->readAll();
    if (m_plan.size() > m_delta.planSize) {
        m_planReply->disconnect(this);
        m_planReply->abort();
        RefusePlan(QStringLiteral("the plan is longer than announced"));
    }
}

void DeltaDownload::PlanFinished()
{
    if (m_planReply->error() != QNetworkReply::NoError) {
        RefusePlan(QStringLiteral("the plan cannot be fetched: ") + m_planReply->errorString());
        return;
    }
    PlanReceived();
    if (!m_planReply)
        return;
    ReleasePlanReply();
    emit PlanFetched(m_plan);
}

void DeltaDownload::FetchDelta()
{
    m_package->Start(QUrl(m_packagePrefix + m_delta.url, QUrl::TolerantMode));
}

void DeltaDownload::RefusePlan(const QString& reason)
{
    ReleasePlanReply();
    emit NotUsed(reason);
}

void DeltaDownload::ReleasePlanReply()
{
    if (m_planReply) {
        m_planReply->deleteLater();
        m_planReply = nullptr;
    }
}

void DeltaDownload::PackageFailed(UpdateFailure failure)
{
    emit NotUsed(QStringLiteral("the delta's download failed (%1)").arg(static_cast<int>(failure)));
}

void DeltaDownload::DeleteResource()
{
    m_package->DeleteResource();
    delete m_planReply;
    m_planReply = nullptr;
    delete m_manager;
    m_manager = nullptr;
}
