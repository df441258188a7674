#include "httpdownloadfile.h"

#include "global.h"
#include "systemproxyfactory.h"
#include "userpaths.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
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
constexpr int kStartDelayMs = 1000;
constexpr int kWatchdogPeriodMs = 2000;
constexpr qint64 kCheckTimeoutMs = 9999;

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
} // namespace

HttpDownLoadFile::HttpDownLoadFile(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    connect(this, &HttpDownLoadFile::InitCheck, this, &HttpDownLoadFile::CheckProcess);
    QTimer::singleShot(kStartDelayMs, Qt::PreciseTimer, this, &HttpDownLoadFile::TimerPro);
}

HttpDownLoadFile::~HttpDownLoadFile() = default;

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
    m_postTimerId = startTimer(kWatchdogPeriodMs, Qt::CoarseTimer);
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
    if (g_global.GetVersionInfo(answer) != 0 ||
        g_global.m_latestVersion == g_global.m_currentVersion) {
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

bool HttpDownLoadFile::UpdateWanted() const
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
}

void HttpDownLoadFile::CheckWatchdog()
{
    if (g_global.IsRunEnded() || NowMs() - m_lastActiveMs <= kCheckTimeoutMs)
        return;
    qDebug() << "NetworkReply Post TimerOut";
    g_global.UpAppThread();
}

void HttpDownLoadFile::GetPackData() {}

void HttpDownLoadFile::ReplyPackDataRecv()
{
    m_lastActiveMs = NowMs();
    m_file.write(m_reply->readAll());
    m_file.flush();
}

void HttpDownLoadFile::UpdateDataReadProgress(qint64 bytesRead, qint64 totalBytes)
{
    emit UpdateBar(bytesRead, totalBytes);
}

void HttpDownLoadFile::ReplyFinished() {}

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
