#include "updateservice.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>

using updateservice::Delivery;
using updateservice::UpdateService;

using OptionalSize = std::optional<std::uint64_t>;
Q_DECLARE_METATYPE(OptionalSize)

namespace {

const QByteArray kCheckBody = R"({"clientVersion":"2.0.3","deviceType":"Windows","platform":6})";
const QByteArray kJsonType = updateservice::kJsonContentType;

QUrl toUrl(const std::string& url)
{
    return QUrl(QString::fromStdString(url));
}

QByteArray toBytes(const std::string& text)
{
    return QByteArray::fromStdString(text);
}

// Headers as the updater sends them on a check.
QNetworkRequest updaterRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setRawHeader("X-Request-From", "internal");
    request.setRawHeader("content-type", kJsonType);
    return request;
}

// Bytes that differ from their neighbours, so a misplaced piece changes the content.
QByteArray patternBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    return bytes;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        return {};
    }
    return file.fileName();
}

QNetworkReply* getPackage(QNetworkAccessManager& network, const UpdateService& service,
                          const std::string& id)
{
    return network.get(QNetworkRequest(toUrl(service.packageUrl() + id)));
}

} // namespace

class TestUpdateService : public QObject
{
    Q_OBJECT

private slots:
    void answersCheckAsScripted_data();
    void answersCheckAsScripted();
    void recordsRequestAsReceived_data();
    void recordsRequestAsReceived();
    void heldCheckStaysUnanswered_data();
    void heldCheckStaysUnanswered();
    void servesHttpsWithUntrustedCertificate_data();
    void servesHttpsWithUntrustedCertificate();
    void startFailsWhilePortIsTaken();
    void servesPackageBytes_data();
    void servesPackageBytes();
    void stalledPackageHoldsTheRestBack_data();
    void stalledPackageHoldsTheRestBack();
    void droppedPackageEndsInError_data();
    void droppedPackageEndsInError();
    void redirectsPackage_data();
    void redirectsPackage();
    void streamsLargePackageFile();
};

void TestUpdateService::answersCheckAsScripted_data()
{
    QTest::addColumn<bool>("scripted");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");

    QTest::newRow("unscripted: no update")
        << false << 200 << QByteArray(updateservice::kNoUpdateResponse) << kJsonType;
    QTest::newRow("200 update")
        << true << 200
        << QByteArray(R"({"code":"000000","desc":"ok","biz":{"id":"42","update":"1",)"
                      R"("latestVersion":"2.1.0","latestVersionInfo":"中文说明&English notes",)"
                      R"("packageSize":1234,"updateType":1}})")
        << kJsonType;
    // text/plain is a type cpp-httplib would otherwise compress.
    QTest::newRow("500 text") << true << 500 << QByteArray("internal failure\n")
                              << QByteArray("text/plain");
    QTest::newRow("404 empty") << true << 404 << QByteArray() << kJsonType;
}

void TestUpdateService::answersCheckAsScripted()
{
    QFETCH(bool, scripted);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    UpdateService service;
    QVERIFY(service.start());
    if (scripted) {
        service.setCheckResponse(status, body.toStdString(), contentType.toStdString());
    }

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(
        network.post(updaterRequest(toUrl(service.checkUrl())), kCheckBody));
    QTRY_VERIFY(reply->isFinished());

    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(reply->rawHeader("Content-Type"), contentType);
    QCOMPARE(reply->rawHeader("Content-Length"), QByteArray::number(body.size()));
    QCOMPARE(reply->readAll(), body);
}

void TestUpdateService::recordsRequestAsReceived_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("path");

    QTest::newRow("check") << QByteArray("POST") << "/check?channel=beta"
                           << QByteArray(R"({"clientVersion":"2.0.3","note":"中文"})") << 200
                           << "/check";
    QTest::newRow("unrouted") << QByteArray("GET") << "/packages/42" << QByteArray() << 404
                              << "/packages/42";
    QTest::newRow("unknown package")
        << QByteArray("GET") << "/pack/43" << QByteArray() << 404 << "/pack/43";
}

void TestUpdateService::recordsRequestAsReceived()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, target);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, path);
    UpdateService service;
    std::mutex logMutex;
    QStringList logLines;
    service.setLogger([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        logLines << QString::fromStdString(line);
    });
    QVERIFY(service.start());

    QNetworkAccessManager network;
    const QUrl url(QString::fromStdString(service.baseUrl()) + target);
    std::unique_ptr<QNetworkReply> reply(
        network.sendCustomRequest(updaterRequest(url), verb, body));
    QTRY_VERIFY(reply->isFinished());
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);

    const std::vector<updateservice::RecordedRequest> requests = service.requests();
    QCOMPARE(requests.size(), std::size_t{1});
    const updateservice::RecordedRequest& request = requests.front();
    QCOMPARE(toBytes(request.method), verb);
    QCOMPARE(QString::fromStdString(request.path), path);
    QCOMPARE(QString::fromStdString(request.target), target);
    QCOMPARE(toBytes(request.body), body);
    const std::pair<std::string, std::string> sentAsIs{"X-Request-From", "internal"};
    QVERIFY(std::find(request.headers.begin(), request.headers.end(), sentAsIs) !=
            request.headers.end());
    // Sent as "content-type".
    QCOMPARE(toBytes(request.header("Content-Type")), kJsonType);
    std::lock_guard<std::mutex> lock(logMutex);
    QCOMPARE(logLines.size(), 1);
    QVERIFY(logLines.front().startsWith(verb + ' ' + target));
}

void TestUpdateService::heldCheckStaysUnanswered_data()
{
    QTest::addColumn<bool>("stopWhileHeld");

    QTest::newRow("released") << false;
    QTest::newRow("stopped") << true;
}

void TestUpdateService::heldCheckStaysUnanswered()
{
    QFETCH(bool, stopWhileHeld);
    UpdateService service;
    QVERIFY(service.start());
    service.setHoldChecks(true);

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(
        network.post(updaterRequest(toUrl(service.checkUrl())), kCheckBody));
    QTRY_COMPARE(service.requestCount(), std::size_t{1});
    // Gives a wrongly sent answer time to arrive.
    QTest::qWait(100);
    QVERIFY(!reply->isFinished());

    service.setCheckResponse(200, "scripted while held");
    if (stopWhileHeld) {
        service.stop();
    } else {
        service.setHoldChecks(false);
    }
    QTRY_VERIFY(reply->isFinished());

    if (stopWhileHeld) {
        QVERIFY(reply->error() != QNetworkReply::NoError);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute), QVariant());
    } else {
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), QByteArray("scripted while held"));
    }
}

void TestUpdateService::servesHttpsWithUntrustedCertificate_data()
{
    QTest::addColumn<bool>("verifyPeer");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<std::size_t>("recorded");

    QTest::newRow("verification off") << false << QNetworkReply::NoError << std::size_t{1};
    QTest::newRow("default verification")
        << true << QNetworkReply::SslHandshakeFailedError << std::size_t{0};
}

void TestUpdateService::servesHttpsWithUntrustedCertificate()
{
    QFETCH(bool, verifyPeer);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(std::size_t, recorded);
    if (!QSslSocket::supportsSsl()) {
        QSKIP("Qt has no TLS backend here");
    }
    UpdateService service;
    updateservice::Options options;
    options.tls = true;
    QVERIFY(service.start(options));
    QVERIFY(QString::fromStdString(service.checkUrl()).startsWith("https://127.0.0.1:"));

    QNetworkRequest request = updaterRequest(toUrl(service.checkUrl()));
    if (!verifyPeer) {
        QSslConfiguration configuration = request.sslConfiguration();
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(configuration);
    }
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.post(request, kCheckBody));
    QTRY_VERIFY(reply->isFinished());

    QCOMPARE(reply->error(), error);
    QCOMPARE(service.requestCount(), recorded);
}

void TestUpdateService::startFailsWhilePortIsTaken()
{
    UpdateService first;
    QVERIFY(first.start());
    updateservice::Options samePort;
    samePort.port = first.port();
    UpdateService second;

    QVERIFY(!second.start(samePort));
    first.stop();
    QVERIFY(second.start(samePort));
    QCOMPARE(second.port(), samePort.port);
}

void TestUpdateService::servesPackageBytes_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<int>("size");

    for (const bool fromFile : {false, true}) {
        const char* source = fromFile ? "file" : "memory";
        QTest::addRow("%s, with length", source) << fromFile << true << 200000;
        QTest::addRow("%s, chunked", source) << fromFile << false << 200000;
        QTest::addRow("%s, empty", source) << fromFile << true << 0;
        QTest::addRow("%s, empty chunked", source) << fromFile << false << 0;
    }
}

void TestUpdateService::servesPackageBytes()
{
    QFETCH(bool, fromFile);
    QFETCH(bool, contentLength);
    QFETCH(int, size);
    const QByteArray package = patternBytes(size);
    Delivery delivery;
    delivery.contentLength = contentLength;
    QTemporaryDir dir;
    UpdateService service;
    if (fromFile) {
        QVERIFY(service.addPackageFile("app_2.1.0.zip",
                                       writeFile(dir, "package", package).toStdString(), delivery));
    } else {
        service.addPackage("app_2.1.0.zip", package.toStdString(), delivery);
    }
    QVERIFY(service.start());
    QCOMPARE(service.packageUrl(), service.baseUrl() + "/pack/");

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(getPackage(network, service, "app_2.1.0.zip"));
    QTRY_VERIFY(reply->isFinished());

    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QCOMPARE(reply->hasRawHeader("Content-Length"), contentLength);
    if (contentLength) {
        QCOMPARE(reply->rawHeader("Content-Length"), QByteArray::number(size));
    } else {
        QCOMPARE(reply->rawHeader("Transfer-Encoding"), QByteArray("chunked"));
    }
    QCOMPARE(reply->readAll(), package);
}

void TestUpdateService::stalledPackageHoldsTheRestBack_data()
{
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<int>("stallAfter");
    QTest::addColumn<OptionalSize>("dropAfter");
    QTest::addColumn<bool>("stopWhileStalled");

    QTest::newRow("with length, released") << true << 100000 << OptionalSize() << false;
    QTest::newRow("chunked, released") << false << 100000 << OptionalSize() << false;
    QTest::newRow("nothing after the headers, stopped") << true << 0 << OptionalSize() << true;
    QTest::newRow("chunked, stopped") << false << 1 << OptionalSize() << true;
    QTest::newRow("released, then dropped") << true << 1000 << OptionalSize(5000) << false;
}

void TestUpdateService::stalledPackageHoldsTheRestBack()
{
    QFETCH(bool, contentLength);
    QFETCH(int, stallAfter);
    QFETCH(OptionalSize, dropAfter);
    QFETCH(bool, stopWhileStalled);
    const QByteArray package = patternBytes(300000);
    Delivery delivery;
    delivery.contentLength = contentLength;
    delivery.stallAfter = stallAfter;
    delivery.dropAfter = dropAfter;
    UpdateService service;
    service.addPackage("42", package.toStdString(), delivery);
    QVERIFY(service.start());

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(getPackage(network, service, "42"));
    QTRY_VERIFY(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
    QTRY_COMPARE(reply->bytesAvailable(), qint64(stallAfter));
    // Gives wrongly sent bytes time to arrive.
    QTest::qWait(300);
    QCOMPARE(reply->bytesAvailable(), qint64(stallAfter));
    QVERIFY(!reply->isFinished());

    if (stopWhileStalled) {
        service.stop();
    } else {
        service.releaseStalls();
    }
    QTRY_VERIFY(reply->isFinished());

    const int expectedSize =
        stopWhileStalled ? stallAfter : int(dropAfter.value_or(package.size()));
    QCOMPARE(reply->error() == QNetworkReply::NoError, !stopWhileStalled && !dropAfter);
    QCOMPARE(reply->readAll(), package.left(expectedSize));
}

void TestUpdateService::droppedPackageEndsInError_data()
{
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<int>("dropAfter");

    QTest::newRow("with length, halfway") << true << 150000;
    QTest::newRow("chunked, halfway") << false << 150000;
    QTest::newRow("with length, after the headers") << true << 0;
}

void TestUpdateService::droppedPackageEndsInError()
{
    QFETCH(bool, contentLength);
    QFETCH(int, dropAfter);
    const QByteArray package = patternBytes(300000);
    Delivery delivery;
    delivery.contentLength = contentLength;
    delivery.dropAfter = dropAfter;
    UpdateService service;
    service.addPackage("42", package.toStdString(), delivery);
    QVERIFY(service.start());

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(getPackage(network, service, "42"));
    QTRY_VERIFY(reply->isFinished());

    QVERIFY(reply->error() != QNetworkReply::NoError);
    QCOMPARE(reply->readAll(), package.left(dropAfter));
}

void TestUpdateService::redirectsPackage_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("toHttps");

    QTest::newRow("301") << 301 << false;
    QTest::newRow("302") << 302 << false;
    QTest::newRow("307 to https") << 307 << true;
}

void TestUpdateService::redirectsPackage()
{
    QFETCH(int, status);
    QFETCH(bool, toHttps);
    UpdateService target;
    updateservice::Options targetOptions;
    targetOptions.tls = toHttps;
    QVERIFY(target.start(targetOptions));
    const std::string location = target.packageUrl() + "42";
    UpdateService service;
    service.addRedirect("42", status, location);
    QVERIFY(service.start());

    QNetworkAccessManager network;
    network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(getPackage(network, service, "42"));
    QTRY_VERIFY(reply->isFinished());

    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(reply->rawHeader("Location"), toBytes(location));
    QVERIFY(QString::fromStdString(location).startsWith(toHttps ? "https://" : "http://"));
}

void TestUpdateService::streamsLargePackageFile()
{
    const int mebibyte = 1024 * 1024;
    QTemporaryDir dir;
    QFile file(dir.filePath("large.zip"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCryptographicHash written(QCryptographicHash::Md5);
    for (int i = 0; i < 64; ++i) {
        const QByteArray block = patternBytes(mebibyte).append(char(i));
        written.addData(block);
        QCOMPARE(file.write(block), qint64(block.size()));
    }
    file.close();
    UpdateService service;
    QVERIFY(service.addPackageFile("large.zip", file.fileName().toStdString()));
    QVERIFY(service.start());

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(getPackage(network, service, "large.zip"));
    QCryptographicHash received(QCryptographicHash::Md5);
    qint64 receivedSize = 0;
    connect(reply.get(), &QIODevice::readyRead, [&] {
        const QByteArray piece = reply->readAll();
        receivedSize += piece.size();
        received.addData(piece);
    });
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 60000);

    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(receivedSize, file.size());
    QCOMPARE(received.result().toHex(), written.result().toHex());
}

QTEST_GUILESS_MAIN(TestUpdateService)
#include "tst_updateservice.moc"
