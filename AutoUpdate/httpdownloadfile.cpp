#include "httpdownloadfile.h"

#include "base/timing.h"
#include "base/userpaths.h"
#include "check/systemproxyfactory.h"
#include "global.h"
#include "windows/dialogcommon.h"
#include "windows/dwondialog.h"
#include "windows/updatedialog.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QTimerEvent>

#ifndef QT_NO_SSL
#include <QSslConfiguration>
#endif

namespace {
constexpr int kMaxRedirects = 5;
// Without a limit the network thread reads as fast as the network delivers and queues it all
// in memory while the file is written; the limit makes it wait for the file instead.
constexpr qint64 kReadBufferSize = 1 << 20;
// Qt reports a transfer's progress at most this often; the bar follows the bytes written at the
// same pace, and once more when they stop coming.
constexpr int kProgressPeriodMs = 100;

enum class DownloadFailure { Corrupted, InstallFailed, Network };

QString DownloadFailureText(DownloadFailure failure)
{
    const bool english = IsEnglish();
    switch (failure) {
    case DownloadFailure::Corrupted:
        return english ? QStringLiteral("File conrrupted, update failed.")
                       : QStringLiteral("文件损坏，更新失败");
    case DownloadFailure::InstallFailed:
        return english ? QStringLiteral("Update failed.") : QStringLiteral("更新失败");
    case DownloadFailure::Network:
        break;
    }
    return english ? QStringLiteral("Installation failed. Network exception, please check.")
                   : QStringLiteral("安装失败，网络异常，请检查网络");
}

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QByteArray CheckRequestBody()
{
    // QJsonObject keeps its keys sorted, which is also the order the service expects.
    const QJsonObject body{{QStringLiteral("clientVersion"), g_global.m_currentVersion},
                           {QStringLiteral("deviceType"), QStringLiteral("Windows")},
                           {QStringLiteral("platform"), 6}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
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

// The part of the program name before its first ".", which names the download folder.
QString ProgramBaseName(const QString& appName)
{
    return appName.section(QLatin1Char('.'), 0, 0);
}

// Packages are commonly served through redirecting download hosts, which Qt 5 does not follow by
// default; a redirect from https to plain http is still refused.
QNetworkRequest PackageRequest()
{
    QNetworkRequest request(QUrl(g_global.m_getPackUrl + g_global.m_id, QUrl::TolerantMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    return request;
}
} // namespace

HttpDownLoadFile::HttpDownLoadFile(QObject* parent)
    : QObject(parent), m_progressTimer(new QTimer(this))
{
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    m_progressTimer->setSingleShot(true);
    m_progressTimer->setInterval(kProgressPeriodMs);
    connect(m_progressTimer, &QTimer::timeout, this, &HttpDownLoadFile::ShowProgress);
    m_updateDialog = new UpdateDialog(nullptr);
    connect(this, &HttpDownLoadFile::Aupdate, m_updateDialog, &UpdateDialog::updateMode);
    connect(this, &HttpDownLoadFile::UpdateBar, m_updateDialog->m_dwonDlg,
            &DwonDialog::UpdateProgressBar);
    connect(this, &HttpDownLoadFile::InstallStarted, m_updateDialog->m_dwonDlg,
            &DwonDialog::UpdateInstallState);
    connect(m_updateDialog, &UpdateDialog::getPack, this, &HttpDownLoadFile::GetPackData);
    connect(this, &HttpDownLoadFile::InitCheck, this, &HttpDownLoadFile::CheckProcess);
    QTimer::singleShot(Timing::current().startDelayMs, Qt::PreciseTimer, this,
                       &HttpDownLoadFile::TimerPro);
}

HttpDownLoadFile::~HttpDownLoadFile()
{
    delete m_updateDialog;
    m_updateDialog = nullptr;
}

void HttpDownLoadFile::TimerPro()
{
    emit InitCheck();
}

void HttpDownLoadFile::CheckProcess()
{
    SystemProxyFactory::install();
    m_checkManager = new QNetworkAccessManager;
    m_downloadManager = new QNetworkAccessManager;
    m_postTimerId = 0;
    m_getTimerId = 0;
    if (g_global.CkeckProcess() == 0) {
        g_global.EndRun();
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
    m_reply = m_checkManager->post(request, CheckRequestBody());
    connect(m_checkManager, &QNetworkAccessManager::finished, this,
            &HttpDownLoadFile::ReplyCheckDataRecv);
    m_lastActiveMs = NowMs();
    m_postTimerId = startTimer(Timing::current().watchdogPeriodMs, Qt::CoarseTimer);
}

void HttpDownLoadFile::ReplyCheckDataRecv(QNetworkReply* Reply)
{
    killTimer(m_postTimerId);
    m_postTimerId = 0;
    // After the watchdog has handed over to the client, a late answer changes nothing.
    if (g_global.IsRunEnded())
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
    QByteArray answer = reply->readAll();
    if (!AnswerOffersUpdate(answer)) {
        g_global.UpAppThread();
        return;
    }
    RemoveUpdateNotesMarker();
    if (!UpdateWanted()) {
        g_global.UpAppThread();
        return;
    }
    PreparePackagePath();
    emit Aupdate(g_global.m_updateMode);
}

// The marker tells the client to show the notes of an update it just received; once a newer
// version is offered, those notes are stale.
void HttpDownLoadFile::RemoveUpdateNotesMarker()
{
    QFile marker(UserPaths::clientDataDir() + QStringLiteral("/isShowUpdataInfo.txt"));
    if (!marker.exists()) {
        qInfo() << "isShowUpdataInfo.txt not exists";
    } else if (marker.remove()) {
        qInfo() << "isShowUpdataInfo.txt is remove";
    } else {
        qDebug() << "failed to delete isShowUpdataInfo.txt: " << static_cast<int>(marker.error());
    }
}

bool HttpDownLoadFile::AnswerOffersUpdate(QByteArray& answer)
{
    return g_global.GetVersionInfo(answer) == 0 &&
           g_global.m_latestVersion != g_global.m_currentVersion &&
           g_global.CheckReleaseSignature(answer) == 0;
}

bool HttpDownLoadFile::UpdateWanted()
{
    const bool remindersOff = g_global.m_remide != 0 &&
                              g_global.m_latestVersion == g_global.m_noRemindVersion &&
                              !g_global.m_args.contains(QStringLiteral("-noremid")) &&
                              !g_global.m_args.contains(QStringLiteral("-immediately"));
    return !remindersOff && g_global.m_updateMode != QLatin1String("0");
}

void HttpDownLoadFile::PreparePackagePath()
{
    const QString fileName = QFileInfo(g_global.m_latestVersionUrl).fileName();
    m_packDir = UserPaths::updaterDir() + QLatin1Char('/') + ProgramBaseName(g_global.m_appName);
    QDir().mkpath(m_packDir);
    m_filePath = m_packDir + QLatin1Char('/') + fileName;
    qInfo() << "update fileName: " << m_filePath;
}

void HttpDownLoadFile::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_postTimerId)
        CheckWatchdog();
    else if (event->timerId() == m_getTimerId)
        DownloadWatchdog();
}

void HttpDownLoadFile::CheckWatchdog()
{
    if (g_global.IsRunEnded() || NowMs() - m_lastActiveMs <= Timing::current().checkTimeoutMs)
        return;
    qDebug() << "NetworkReply Post TimerOut";
    g_global.UpAppThread();
}

void HttpDownLoadFile::GetPackData()
{
    EmptyDownloadFolder();
    if (m_file.fileName().isEmpty())
        m_file.setFileName(m_filePath);
    if (!m_file.open(QIODevice::ReadWrite)) {
        qDebug() << m_filePath << " Open failed:" << static_cast<int>(m_file.error());
        g_global.EndRun();
        return;
    }
    m_digest.reset(!g_global.m_sha256.isEmpty());
    m_received = 0;
    m_total = -1;
    m_progressShownMs = 0;
    m_reply = m_downloadManager->get(PackageRequest());
    m_reply->setReadBufferSize(kReadBufferSize);
    connect(m_reply, &QIODevice::readyRead, this, &HttpDownLoadFile::ReplyPackDataRecv);
    connect(m_reply, &QNetworkReply::finished, this, &HttpDownLoadFile::ReplyFinished);
    connect(m_reply, SIGNAL(error(QNetworkReply::NetworkError)), this,
            SLOT(ReplyError(QNetworkReply::NetworkError)));
    m_lastActiveMs = NowMs();
    m_getTimerId = startTimer(Timing::current().watchdogPeriodMs, Qt::CoarseTimer);
}

// A retry starts from an empty folder; hidden entries are not the updater's and stay.
void HttpDownLoadFile::EmptyDownloadFolder()
{
    QDir folder(m_packDir);
    if (m_packDir.isEmpty() || folder.isEmpty())
        return;
    QDirIterator it(m_packDir, QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!folder.remove(path))
            QDir(path).removeRecursively();
    }
}

// Each block goes straight to the file and into the digests, so the package is never held in
// memory nor read again.
void HttpDownLoadFile::ReplyPackDataRecv()
{
    // Data that trails a failure is not the package's.
    if (!m_file.isOpen())
        return;
    m_lastActiveMs = NowMs();
    const QByteArray block = m_reply->readAll();
    if (m_file.write(block) != block.size() || !m_file.flush()) {
        qDebug() << m_filePath << " write failed:" << static_cast<int>(m_file.error());
        AbortDownload();
        ShowDownloadFailure(DownloadFailureText(DownloadFailure::Corrupted));
        return;
    }
    m_digest.addData(block.constData(), block.size());
    m_received += block.size();
    m_total = AnnouncedLength();
    if (NowMs() - m_progressShownMs >= kProgressPeriodMs)
        ShowProgress();
    else if (!m_progressTimer->isActive())
        m_progressTimer->start();
}

void HttpDownLoadFile::ShowProgress()
{
    m_progressTimer->stop();
    m_progressShownMs = NowMs();
    emit UpdateBar(m_received, m_total);
}

void HttpDownLoadFile::ReplyFinished()
{
    if (m_reply->error() != QNetworkReply::NoError)
        return;
    if (m_reply->bytesAvailable() > 0)
        ReplyPackDataRecv();
    // Qt may report a connection closed before the announced length as a finished transfer; it
    // is a network failure like any other, not a corrupted package.
    if (!m_reply || EndedBeforeAnnouncedLength()) {
        if (m_reply)
            ReplyError(QNetworkReply::RemoteHostClosedError);
        return;
    }
    StopDownloadWatchdog();
    // Once the transfer is complete its size is known, with or without an announced length.
    m_total = m_received;
    ShowProgress();
    // A cancel may have been confirmed just before; one confirmed from now on would stop the
    // client's replacement halfway, so it is refused.
    if (!g_global.BeginInstallation())
        return;
    if (g_global.IsInstalling())
        emit InstallStarted();
    m_reply->deleteLater();
    m_reply = nullptr;
    m_file.close();
    if (!PackageIntact()) {
        ShowDownloadFailure(DownloadFailureText(DownloadFailure::Corrupted));
        qDebug() << m_filePath << "md5 check filed";
        return;
    }
    InstallPackage();
}

qint64 HttpDownLoadFile::AnnouncedLength() const
{
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    return announced.isValid() ? announced.toLongLong() : -1;
}

bool HttpDownLoadFile::EndedBeforeAnnouncedLength() const
{
    const qint64 announced = AnnouncedLength();
    return announced >= 0 && m_received < announced;
}

// The digests were computed as the package was written. A release that names a SHA-256 must
// match it as well as its MD5.
bool HttpDownLoadFile::PackageIntact() const
{
    const QString md5 = m_digest.md5();
    qInfo() << "org:" << g_global.m_md5 << " checkmd5:" << md5;
    if (g_global.m_sha256.isEmpty())
        return md5 == g_global.m_md5;
    const QString sha256 = m_digest.sha256();
    qInfo() << "org sha256:" << g_global.m_sha256 << " checksha256:" << sha256;
    return md5 == g_global.m_md5 && sha256 == g_global.m_sha256;
}

void HttpDownLoadFile::InstallPackage()
{
    switch (g_global.m_updateType) {
    case 0:
        g_global.UpAppInstallThread(m_filePath);
        break;
    case 1:
        if (g_global.DecompressionReplac(m_filePath) == 0)
            g_global.UpAppThread();
        else
            ShowDownloadFailure(DownloadFailureText(DownloadFailure::InstallFailed));
        break;
    default:
        break;
    }
}

void HttpDownLoadFile::DownloadWatchdog()
{
    const qint64 elapsed = NowMs() - m_lastActiveMs;
    if (elapsed < 0 || elapsed <= Timing::current().downloadStallMs)
        return;
    AbortDownload();
    qDebug() << "NetworkReply Get TimerOut";
    ShowDownloadFailure(DownloadFailureText(DownloadFailure::Network));
}

// The bar keeps the share that arrived. The reply may be the sender of the signal being handled,
// so it is deleted later.
void HttpDownLoadFile::AbortDownload()
{
    StopDownloadWatchdog();
    ShowProgress();
    m_file.close();
    m_reply->disconnect(this);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply = nullptr;
}

void HttpDownLoadFile::StopDownloadWatchdog()
{
    killTimer(m_getTimerId);
    m_getTimerId = 0;
}

// The progress dialog lives on the main thread; its own connection queues the display there.
void HttpDownLoadFile::ShowDownloadFailure(const QString& message)
{
    emit m_updateDialog->m_dwonDlg->ErrSignal(message);
}

void HttpDownLoadFile::ReplyError(QNetworkReply::NetworkError err)
{
    m_file.close();
    qDebug() << "Download Network Error:" << err;
}

void HttpDownLoadFile::DeleteResource()
{
    delete m_reply;
    m_reply = nullptr;
    delete m_checkManager;
    m_checkManager = nullptr;
    delete m_downloadManager;
    m_downloadManager = nullptr;
    if (m_postTimerId != 0) {
        killTimer(m_postTimerId);
        m_postTimerId = 0;
    }
    if (m_getTimerId != 0) {
        killTimer(m_getTimerId);
        m_getTimerId = 0;
    }
}
