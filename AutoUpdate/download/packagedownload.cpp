#include "download/packagedownload.h"

#include "base/timing.h"
#include "base/userpaths.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QTimerEvent>

namespace {

constexpr int kMaxRedirects = 5;
// Without a limit the network thread reads as fast as the network delivers and queues it all
// in memory while the file is written; the limit makes it wait for the file instead.
constexpr qint64 kReadBufferSize = 1 << 20;
// Qt reports a transfer's progress at most this often; the bar follows the bytes written at the
// same pace, and once more when they stop coming.
constexpr int kProgressPeriodMs = 100;

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The part of the program name before its first ".", which names the download folder.
QString ProgramBaseName(const QString& appName)
{
    return appName.section(QLatin1Char('.'), 0, 0);
}

// Packages are commonly served through redirecting download hosts, which Qt 5 does not follow by
// default; a redirect from https to plain http is still refused.
QNetworkRequest PackageRequest(const QUrl& address)
{
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    return request;
}

} // namespace

PackageDownload::PackageDownload(QObject* parent)
    : QObject(parent), m_progressTimer(new QTimer(this))
{
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    m_progressTimer->setSingleShot(true);
    m_progressTimer->setInterval(kProgressPeriodMs);
    connect(m_progressTimer, &QTimer::timeout, this, &PackageDownload::ShowProgress);
}

void PackageDownload::PreparePackagePath(const ReleaseOffer& offer, const QString& appName)
{
    m_offer = offer;
    m_packDir = UserPaths::updaterDir() + QLatin1Char('/') + ProgramBaseName(appName);
    QDir().mkpath(m_packDir);
    m_filePath = m_packDir + QLatin1Char('/') + offer.packageFileName();
    qInfo() << "update fileName: " << m_filePath;
}

void PackageDownload::Start(const QUrl& address)
{
    EmptyDownloadFolder();
    m_file.setFileName(m_filePath);
    if (!m_file.open(QIODevice::ReadWrite)) {
        qDebug() << m_filePath << " Open failed:" << static_cast<int>(m_file.error());
        emit FileNotCreated();
        return;
    }
    if (!m_manager)
        m_manager = new QNetworkAccessManager;
    m_digest.reset(!m_offer.sha256.isEmpty());
    m_received = 0;
    m_total = -1;
    m_progressShownMs = 0;
    m_reply = m_manager->get(PackageRequest(address));
    m_reply->setReadBufferSize(kReadBufferSize);
    connect(m_reply, &QIODevice::readyRead, this, &PackageDownload::ReplyPackDataRecv);
    connect(m_reply, &QNetworkReply::finished, this, &PackageDownload::ReplyFinished);
    // Named as a text: the signal's name differs between the Qt versions the program builds with.
    connect(m_reply, SIGNAL(error(QNetworkReply::NetworkError)), this,
            SLOT(ReplyError(QNetworkReply::NetworkError)));
    m_lastActiveMs = NowMs();
    m_watchdogId = startTimer(Timing::current().watchdogPeriodMs, Qt::CoarseTimer);
}

// A retry starts from an empty folder; hidden entries are not the updater's and stay.
void PackageDownload::EmptyDownloadFolder()
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
void PackageDownload::ReplyPackDataRecv()
{
    // Data that trails a failure is not the package's.
    if (!m_file.isOpen())
        return;
    m_lastActiveMs = NowMs();
    if (!WriteBlock(m_reply->readAll()))
        return;
    m_total = AnnouncedLength();
    if (NowMs() - m_progressShownMs >= kProgressPeriodMs)
        ShowProgress();
    else if (!m_progressTimer->isActive())
        m_progressTimer->start();
}

// A package is never larger than its release announced: a byte more is not the release's, and
// is not written.
bool PackageDownload::WriteBlock(const QByteArray& block)
{
    if (m_received + block.size() > m_offer.packageSize) {
        qDebug() << m_filePath << " longer than announced:" << m_offer.packageSize;
        AbortDownload();
        m_file.remove();
        emit Failed(UpdateFailure::Corrupted);
        return false;
    }
    if (m_file.write(block) != block.size() || !m_file.flush()) {
        qDebug() << m_filePath << " write failed:" << static_cast<int>(m_file.error());
        AbortDownload();
        emit Failed(UpdateFailure::Corrupted);
        return false;
    }
    m_digest.addData(block.constData(), block.size());
    m_received += block.size();
    return true;
}

void PackageDownload::ShowProgress()
{
    m_progressTimer->stop();
    m_progressShownMs = NowMs();
    emit UpdateBar(m_received, m_total);
}

void PackageDownload::ReplyFinished()
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
    StopWatchdog();
    // Once the transfer is complete its size is known, with or without an announced length.
    m_total = m_received;
    ShowProgress();
    m_reply->deleteLater();
    m_reply = nullptr;
    m_file.close();
    if (!PackageIntact()) {
        qDebug() << m_filePath << "md5 check filed";
        emit Failed(UpdateFailure::Corrupted);
        return;
    }
    emit Verified(m_filePath);
}

qint64 PackageDownload::AnnouncedLength() const
{
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    return announced.isValid() ? announced.toLongLong() : -1;
}

bool PackageDownload::EndedBeforeAnnouncedLength() const
{
    const qint64 announced = AnnouncedLength();
    return announced >= 0 && m_received < announced;
}

// The digests were computed as the package was written. A release that names a SHA-256 must
// match it as well as its MD5; a delta names only its SHA-256.
bool PackageDownload::PackageIntact() const
{
    if (m_offer.md5.isEmpty())
        return !m_offer.sha256.isEmpty() && m_digest.sha256() == m_offer.sha256;
    const QString md5 = m_digest.md5();
    qInfo() << "org:" << m_offer.md5 << " checkmd5:" << md5;
    if (m_offer.sha256.isEmpty())
        return md5 == m_offer.md5;
    const QString sha256 = m_digest.sha256();
    qInfo() << "org sha256:" << m_offer.sha256 << " checksha256:" << sha256;
    return md5 == m_offer.md5 && sha256 == m_offer.sha256;
}

void PackageDownload::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_watchdogId)
        return;
    const qint64 elapsed = NowMs() - m_lastActiveMs;
    if (elapsed < 0 || elapsed <= Timing::current().downloadStallMs)
        return;
    AbortDownload();
    qDebug() << "NetworkReply Get TimerOut";
    emit Failed(UpdateFailure::Network);
}

// The bar keeps the share that arrived. The reply may be the sender of the signal being handled,
// so it is deleted later.
void PackageDownload::AbortDownload()
{
    StopWatchdog();
    ShowProgress();
    m_file.close();
    m_reply->disconnect(this);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply = nullptr;
}

void PackageDownload::StopWatchdog()
{
    killTimer(m_watchdogId);
    m_watchdogId = 0;
}

void PackageDownload::ReplyError(QNetworkReply::NetworkError err)
{
    m_file.close();
    qDebug() << "Download Network Error:" << err;
}

void PackageDownload::DeleteResource()
{
    delete m_reply;
    m_reply = nullptr;
    delete m_manager;
    m_manager = nullptr;
    if (m_watchdogId != 0)
        StopWatchdog();
}
