#include "updateservice.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <mutex>

using updateservice::UpdateService;

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

QTEST_GUILESS_MAIN(TestUpdateService)
#include "tst_updateservice.moc"
