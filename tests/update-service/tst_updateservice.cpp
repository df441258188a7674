#include "updateservice.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslSocket>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

using updateservice::UpdateService;

namespace {

const QByteArray kCheckBody = R"({"clientVersion":"2.0.3","deviceType":"Windows","platform":6})";
const QByteArray kJsonType = updateservice::kJsonContentType;

QNetworkRequest checkRequest(const UpdateService& service)
{
    QNetworkRequest request(QUrl(QString::fromStdString(service.checkUrl())));
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

} // namespace

class TestUpdateService : public QObject
{
    Q_OBJECT

private slots:
    void sendsBytesAsScripted_data();
    void sendsBytesAsScripted();
    void heldCheck_data();
    void heldCheck();
    void refusedTlsWithDefaultVerification();
    void startFailsWhilePortIsTaken();
};

void TestUpdateService::sendsBytesAsScripted_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");

    const QByteArray octets = updateservice::kPackageContentType;
    const QByteArray package = patternBytes(200000); // several of the pieces it goes out in
    QTest::newRow("check, unscripted")
        << "check" << true << 200 << kJsonType << QByteArray(updateservice::kNoUpdateResponse);
    // text/plain is a type cpp-httplib would otherwise compress.
    QTest::newRow("check, 500 text") << "scripted check" << true << 500 << QByteArray("text/plain")
                                     << QByteArray("internal failure\n");
    QTest::newRow("memory, with length") << "memory" << true << 200 << octets << package;
    QTest::newRow("memory, chunked") << "memory" << false << 200 << octets << package;
    QTest::newRow("file, with length") << "file" << true << 200 << octets << package;
    QTest::newRow("file, chunked") << "file" << false << 200 << octets << package;
    QTest::newRow("file, empty") << "file" << true << 200 << octets << QByteArray();
    QTest::newRow("file, empty chunked") << "file" << false << 200 << octets << QByteArray();
    QTest::newRow("file, 8 MiB") << "file" << true << 200 << octets << patternBytes(8 << 20);
}

void TestUpdateService::sendsBytesAsScripted()
{
    QFETCH(QString, route);
    QFETCH(bool, contentLength);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    UpdateService service;
    updateservice::Delivery delivery;
    delivery.contentLength = contentLength;
    QTemporaryFile file;
    if (route == "scripted check") {
        service.setCheckResponse(status, body.toStdString(), contentType.toStdString());
    } else if (route == "memory") {
        service.addPackage("p", body.toStdString(), delivery);
    } else if (route == "file") {
        QVERIFY(file.open() && file.write(body) == body.size() && file.flush());
        QVERIFY(service.addPackageFile("p", file.fileName().toStdString(), delivery));
    }
    QVERIFY(service.start());

    QNetworkAccessManager network;
    const QUrl packageUrl(QString::fromStdString(service.packageUrl() + "p"));
    std::unique_ptr<QNetworkReply> reply(route.endsWith("check")
                                             ? network.post(checkRequest(service), kCheckBody)
                                             : network.get(QNetworkRequest(packageUrl)));
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);

    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(reply->rawHeader("Content-Type"), contentType);
    QCOMPARE(reply->rawHeader("Content-Length"),
             contentLength ? QByteArray::number(body.size()) : QByteArray());
    QCOMPARE(reply->readAll(), body);
}

void TestUpdateService::heldCheck_data()
{
    QTest::addColumn<bool>("stopWhileHeld");

    QTest::newRow("released") << false;
    QTest::newRow("stopped") << true;
}

void TestUpdateService::heldCheck()
{
    QFETCH(bool, stopWhileHeld);
    UpdateService service;
    QVERIFY(service.start());
    service.setHoldChecks(true);

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.post(checkRequest(service), kCheckBody));
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

    QCOMPARE(reply->error() == QNetworkReply::NoError, !stopWhileHeld);
    QCOMPARE(reply->readAll(), stopWhileHeld ? QByteArray() : QByteArray("scripted while held"));
}

void TestUpdateService::refusedTlsWithDefaultVerification()
{
    if (!QSslSocket::supportsSsl()) {
        QSKIP("Qt has no TLS backend here");
    }
    UpdateService service;
    updateservice::Options options;
    options.tls = true;
    QVERIFY(service.start(options));

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.post(checkRequest(service), kCheckBody));
    QTRY_VERIFY(reply->isFinished());

    // Self-signed: clients that verify must not trust it.
    QCOMPARE(reply->error(), QNetworkReply::SslHandshakeFailedError);
    QCOMPARE(service.requestCount(), std::size_t{0});
}

void TestUpdateService::startFailsWhilePortIsTaken()
{
    UpdateService first;
    QVERIFY(first.start());
    updateservice::Options samePort;
    samePort.port = first.port();
    UpdateService second;

    QVERIFY(!second.start(samePort));
    QVERIFY(!second.startError().empty());
    first.stop();
    QVERIFY(second.start(samePort));
}

QTEST_GUILESS_MAIN(TestUpdateService)
#include "tst_updateservice.moc"
