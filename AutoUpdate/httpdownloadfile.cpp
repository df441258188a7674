#include "httpdownloadfile.h"

#include "base/timing.h"
#include "base/userpaths.h"
#include "check/systemproxyfactory.h"
#include "check/updatecheck.h"
#include "download/deltadownload.h"
#include "download/packagedownload.h"
#include "global.h"
#include "install/copycommand.h"
#include "install/deltainstall.h"
#include "install/elevatedinstall.h"
#include "install/packageinstall.h"
#include "install/packageunpacker.h"
#include "install/zipinstall.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QTimerEvent>

#ifndef QT_NO_SSL
#include <QSslConfiguration>
#endif

namespace {

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The check answer is trusted without a verified certificate; the package itself is fetched
// with the default verification.
void TrustAnyPeer(QNetworkRequest& request)
{
#ifndef QT_NO_SSL
    QSslConfiguration ssl = request.sslConfiguration();
    ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    ssl.setProtocol(QSsl::AnyProtocol);
    request.setSslConfiguration(ssl);
#else
    Q_UNUSED(request)
#endif
}

} // namespace

HttpDownLoadFile::HttpDownLoadFile(QObject* parent)
    : QObject(parent), m_download(new PackageDownload(this)),
      m_deltaDownload(new DeltaDownload(this))
{
    qRegisterMetaType<ReleaseOffer>();
    qRegisterMetaType<UpdateFailure>();
    connect(this, &HttpDownLoadFile::InitCheck, this, &HttpDownLoadFile::CheckProcess);
    connect(m_download, &PackageDownload::UpdateBar, this, &HttpDownLoadFile::UpdateBar);
    connect(m_download, &PackageDownload::Failed, this, &HttpDownLoadFile::UpdateFailed);
    connect(m_download, &PackageDownload::Verified, this, &HttpDownLoadFile::InstallPackage);
    connect(m_download, &PackageDownload::FileNotCreated, this, [] { g_global.m_runEnd.End(); });
    connect(m_deltaDownload, &DeltaDownload::UpdateBar, this, &HttpDownLoadFile::UpdateBar);
    connect(m_deltaDownload, &DeltaDownload::NotUsed, this,
            &HttpDownLoadFile::FallBackToFullPackage);
    connect(m_deltaDownload, &DeltaDownload::PlanFetched, this, &HttpDownLoadFile::CheckDeltaPlan);
    connect(m_deltaDownload, &DeltaDownload::Downloaded, this, &HttpDownLoadFile::InstallDelta);
    QTimer::singleShot(Timing::current().startDelayMs, Qt::PreciseTimer, this,
                       &HttpDownLoadFile::TimerPro);
}

void HttpDownLoadFile::TimerPro()
{
    emit InitCheck();
}

void HttpDownLoadFile::CheckProcess()
{
    SystemProxyFactory::install();
    m_checkManager = new QNetworkAccessManager;
    m_postTimerId = 0;
    if (g_global.CkeckProcess() == 0) {
        g_global.m_runEnd.End();
        return;
    }
    PostCheckRequest();
}

void HttpDownLoadFile::PostCheckRequest()
{
    QNetworkRequest request(QUrl(g_global.m_updateCheckUrl, QUrl::TolerantMode));
    request.setRawHeader("X-Request-From", "internal");
    request.setRawHeader("content-type", "application/json;charset=UTF-8");
    TrustAnyPeer(request);
    m_reply = m_checkManager->post(request, UpdateCheck::requestBody(g_global.m_currentVersion));
    // Qt stops reading once the buffer holds more than an answer may; the rest is never fetched.
    m_reply->setReadBufferSize(UpdateCheck::kMaxAnswerBytes + 1);
    connect(m_reply, &QIODevice::readyRead, this, &HttpDownLoadFile::LimitCheckAnswer);
    connect(m_checkManager, &QNetworkAccessManager::finished, this,
            &HttpDownLoadFile::ReplyCheckDataRecv);
    m_lastActiveMs = NowMs();
    m_postTimerId = startTimer(Timing::current().watchdogPeriodMs, Qt::CoarseTimer);
}

void HttpDownLoadFile::LimitCheckAnswer()
{
    if (m_reply->bytesAvailable() <= UpdateCheck::kMaxAnswerBytes)
        return;
    qDebug() << "Service answer longer than" << UpdateCheck::kMaxAnswerBytes << "bytes";
    m_reply->abort();
}

void HttpDownLoadFile::ReplyCheckDataRecv(QNetworkReply* Reply)
{
    killTimer(m_postTimerId);
    m_postTimerId = 0;
    // After the watchdog has handed over to the client, a late answer changes nothing.
    if (g_global.m_runEnd.IsEnded())
        return;
    if (Reply->error() != QNetworkReply::NoError) {
        g_global.UpAppThread();
        qDebug() << "Network Recv Back Error:" << Reply->error();
        return;
    }
    HandleCheckAnswer(Reply);
}

void HttpDownLoadFile::HandleCheckAnswer(QNetworkReply* reply)
{
    const Result<ReleaseOffer> offer =
        UpdateCheck::offerIn(reply->readAll(), {g_global.m_currentVersion, g_global.m_publicKeys});
    if (!offer) {
        g_global.UpAppThread();
        return;
    }
    RemoveUpdateNotesMarker();
    const UpdateCheck::Reminders reminders{g_global.m_remide != 0, g_global.m_noRemindVersion,
                                           g_global.m_args};
    if (!UpdateCheck::isWanted(offer.value(), reminders)) {
        g_global.UpAppThread();
        return;
    }
    m_offer = offer.value();
    m_download->PreparePackagePath(m_offer, g_global.m_appName);
    emit Aupdate(m_offer);
}

// The marker tells the client to show the notes of an update it just received; once a newer
// version is offered, those notes are stale.
void HttpDownLoadFile::RemoveUpdateNotesMarker()
{
    QFile marker(UserPaths::notesMarker());
    if (!marker.exists()) {
        qInfo() << "isShowUpdataInfo.txt not exists";
    } else if (marker.remove()) {
        qInfo() << "isShowUpdataInfo.txt is remove";
    } else {
        qDebug() << "failed to delete isShowUpdataInfo.txt: " << static_cast<int>(marker.error());
    }
}

void HttpDownLoadFile::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_postTimerId)
        CheckWatchdog();
}

void HttpDownLoadFile::CheckWatchdog()
{
    if (g_global.m_runEnd.IsEnded() || NowMs() - m_lastActiveMs <= Timing::current().checkTimeoutMs)
        return;
    qDebug() << "NetworkReply Post TimerOut";
    g_global.UpAppThread();
}

// A delta from the installed version is fetched where the release offers one; the full package
// is the road whenever the delta cannot be used.
void HttpDownLoadFile::GetPackData()
{
    const DeltaOffer* delta = DeltaInstall::UsableDelta(m_offer, g_global.m_currentVersion);
    if (!delta) {
        GetFullPackage();
        return;
    }
    if (ElevatedInstall::needed()) {
        FallBackToFullPackage(QStringLiteral("the elevated side installs whole packages only"));
        return;
    }
    qInfo() << "delta from" << delta->fromVersion << "offered:" << delta->size << "of"
            << m_offer.packageSize << "bytes";
    m_delta = *delta;
    m_deltaDownload->Start(m_delta, g_global.m_getPackUrl, g_global.m_appName);
}

// The delta is fetched only where its plan is the announced one and every installed file it
// patches is the one it was made against.
void HttpDownLoadFile::CheckDeltaPlan(const QByteArray& planBytes)
{
    const Result<DeltaPlan> plan =
        DeltaInstall::AnnouncedPlan(planBytes, m_delta, m_offer, g_global.m_currentVersion);
    const Outcome installed =
        plan ? DeltaInstall::CheckPatchedFiles(plan.value(),
                                               CopyCommand::targetFolder(QDir::currentPath()))
             : Outcome::failure(plan.error());
    if (!installed) {
        FallBackToFullPackage(installed.error());
        return;
    }
    qInfo() << "delta plan checked:" << plan->changes().size() << "changed files,"
            << plan->dropped().size() << "dropped";
    m_deltaPlan = plan.value();
    m_deltaDownload->FetchDelta();
}

void HttpDownLoadFile::GetFullPackage()
{
    m_download->Start(QUrl(g_global.m_getPackUrl + m_offer.id, QUrl::TolerantMode));
}

void HttpDownLoadFile::FallBackToFullPackage(const QString& reason)
{
    qInfo().noquote() << "delta not used:" << reason << "- downloading the full package";
    if (g_global.m_runEnd.IsEnded())
        return;
    m_download->PreparePackagePath(m_offer, g_global.m_appName);
    GetFullPackage();
}

// The rebuilt tree takes the place the full package would be unpacked to, and is installed by
// the same road from there. Until the copy begins, a failure still leaves the full package.
void HttpDownLoadFile::InstallDelta(const QString& delta)
{
    emit RebuildStarted();
    const QString package =
        QFileInfo(delta).absolutePath() + QLatin1Char('/') + m_offer.packageFileName();
    const QString tree = QFileInfo(package).absolutePath() + QLatin1Char('/') +
                         PackageUnpacker::topFolderName(package);
    const Result<ReleaseManifest> rebuilt = DeltaInstall::Rebuild(
        delta, m_deltaPlan, m_offer, CopyCommand::targetFolder(QDir::currentPath()), tree);
    if (!rebuilt) {
        FallBackToFullPackage(rebuilt.error());
        return;
    }
    qInfo() << "delta rebuilt:" << tree;
    if (!g_global.m_runEnd.BeginInstallation(m_offer.packageKind()))
        return;
    emit InstallStarted();
    if (ZipInstall(&rebuilt.value()).ReplaceClient(package, m_offer) != 0) {
        emit UpdateFailed(UpdateFailure::InstallFailed);
        return;
    }
    g_global.UpAppThread();
}

// A cancel may have been confirmed just before; one confirmed from now on would stop the client's
// replacement halfway, so it is refused. A package of a kind the updater does not install is
// kept, and the window stays until the user ends the update.
void HttpDownLoadFile::InstallPackage(const QString& package)
{
    if (!g_global.m_runEnd.BeginInstallation(m_offer.packageKind()))
        return;
    const std::unique_ptr<PackageInstall> install = PackageInstall::ForKind(m_offer.packageKind());
    if (!install)
        return;
    emit InstallStarted();
    if (!install->Install(package, m_offer))
        emit UpdateFailed(UpdateFailure::InstallFailed);
}

void HttpDownLoadFile::DeleteResource()
{
    m_download->DeleteResource();
    m_deltaDownload->DeleteResource();
    delete m_reply;
    m_reply = nullptr;
    delete m_checkManager;
    m_checkManager = nullptr;
    if (m_postTimerId != 0) {
        killTimer(m_postTimerId);
        m_postTimerId = 0;
    }
}
