#include "updateservice.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using updateservice::UpdateService;

// The server that serve runs: checks answered by its responder, package files streamed.
class TestUpdateService : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void startFailsWhilePortIsTaken();
};

void TestUpdateService::answers_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    QByteArray package(200000, Qt::Uninitialized); // several of the pieces it goes out in
    for (int i = 0; i < package.size(); ++i) {
        package[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    QTest::newRow("check") << "/check" << 200 << QByteArray("answer to: version 2");
    QTest::newRow("package") << "/pack/big" << 200 << package;
    QTest::newRow("empty package") << "/pack/empty" << 200 << QByteArray();
    QTest::newRow("unknown package") << "/pack/other" << 404 << QByteArray();
    QTest::newRow("unknown path") << "/elsewhere" << 404 << QByteArray();
}

void TestUpdateService::answers()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QTemporaryDir dir;
    QFile file(dir.filePath("package"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(body) == body.size() && file.flush());
    UpdateService service;
    service.setCheckResponder([](const updateservice::Request& request) {
        return updateservice::CheckResponse{200, "answer to: " + request.body};
    });
    // A file that cannot be read is refused, and its id stays unknown.
    QVERIFY(!service.addPackageFile("other", dir.filePath("missing")));
    QVERIFY(status == 404 || service.addPackageFile(path.mid(6), file.fileName()));
    QVERIFY2(service.start(), qPrintable(service.startError()));

    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(service.baseUrl() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, updateservice::kJsonContentType);
    std::unique_ptr<QNetworkReply> reply(path == "/check" ? network.post(request, "version 2")
                                                          : network.get(request));
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);

    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(reply->readAll(), body);
}

void TestUpdateService::startFailsWhilePortIsTaken()
{
    UpdateService first;
    QVERIFY(first.start());
    updateservice::Options samePort;
    samePort.port = first.port();
    UpdateService second;

    QVERIFY(!second.start(samePort));
    QVERIFY(second.startError().contains(QString::number(first.port())));
    first.stop();
    QVERIFY(second.start(samePort));
}

QTEST_GUILESS_MAIN(TestUpdateService)
#include "tst_updateservice.moc"
