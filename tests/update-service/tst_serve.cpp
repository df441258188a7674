#include "publisher.h"
#include "releasecatalogue.h"
#include "releasefixture.h"
#include "updateservice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using updateservice::Release;
using updateservice::ReleaseCatalogue;
using updateservice::UpdateService;

namespace {

// Published in this order, so the newest is the one with the lower number: versions are
// never ordered.
const QStringList kPublished{"2.1.0", "2.0.9"};
const QString kNewest = kPublished.last();

QByteArray checkBody(const QString& clientVersion)
{
    return R"({"clientVersion":")" + clientVersion.toUtf8() +
           R"(","deviceType":"Windows","platform":6})";
}

QNetworkReply* postCheck(QNetworkAccessManager& network, const QString& url, const QByteArray& body)
{
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("X-Request-From", "internal");
    request.setRawHeader("content-type", "application/json;charset=UTF-8");
    return network.post(request, body);
}

} // namespace

class TestServe : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void answersWithNewestRelease_data();
    void answersWithNewestRelease();
    void servesEveryPackage();
    void refusesFolderWithoutReleases_data();
    void refusesFolderWithoutReleases();
    void commandServesUntilTerminated();
    void commandRefuses_data();
    void commandRefuses();

private:
    QTemporaryDir m_dir;
    QString m_releases;
};

void TestServe::initTestCase()
{
    m_releases = m_dir.filePath("releases");
    for (const QString& version : kPublished) {
        QString error;
        QVERIFY2(updateservice::publish(zipRequest(makeClientBuild(m_dir.path(), version, version),
                                                   version, m_releases),
                                        &error),
                 qPrintable(error));
    }
}

void TestServe::answersWithNewestRelease_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("update");

    QTest::newRow("older client") << checkBody("2.0.3") << "1";
    QTest::newRow("client on an earlier release") << checkBody(kPublished.first()) << "1";
    QTest::newRow("client on the newest release") << checkBody(kNewest) << "0";
    QTest::newRow("not a check request") << QByteArray("clientVersion=2.0.9") << "1";
}

void TestServe::answersWithNewestRelease()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, update);
    QString error;
    const std::optional<ReleaseCatalogue> catalogue = ReleaseCatalogue::load(m_releases, &error);
    QVERIFY2(catalogue, qPrintable(error));
    UpdateService service;
    QVERIFY(catalogue->serveWith(service, &error));
    QVERIFY(service.start());

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(
        postCheck(network, QString::fromStdString(service.checkUrl()), body));
    QTRY_VERIFY(reply->isFinished());

    QCOMPARE(reply->error(), QNetworkReply::NoError);
    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    QCOMPARE(answer.value("code").toString(), QString("000000"));
    QCOMPARE(answer.value("desc").toString(), QString());
    QJsonObject expected = catalogue->newest().biz;
    QCOMPARE(expected.value("latestVersion").toString(), kNewest);
    expected.insert("update", update);
    QCOMPARE(answer.value("biz").toObject(), expected);
}

void TestServe::servesEveryPackage()
{
    QString error;
    const std::optional<ReleaseCatalogue> catalogue = ReleaseCatalogue::load(m_releases, &error);
    QVERIFY2(catalogue, qPrintable(error));
    QCOMPARE(catalogue->releases().size(), kPublished.size());
    UpdateService service;
    QVERIFY(catalogue->serveWith(service, &error));
    QVERIFY(service.start());

    QNetworkAccessManager network;
    for (const Release& release : catalogue->releases()) {
        const QUrl url(QString::fromStdString(service.packageUrl()) + release.id());
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
        QTRY_VERIFY(reply->isFinished());
        const QByteArray package = readWholeFile(release.packageFilePath());
        QCOMPARE(reply->rawHeader("Content-Length"), QByteArray::number(package.size()));
        QCOMPARE(reply->readAll(), package);
    }
}

void TestServe::refusesFolderWithoutReleases_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing folder") << "missing" << QByteArray() << "does not exist";
    QTest::newRow("empty folder") << "empty" << QByteArray() << "holds no release";
    QTest::newRow("broken description")
        << "broken" << QByteArray(R"({"sequence":1,"biz":{"latestVersion":"2.1.0"}})")
        << "is not a release description";
}

void TestServe::refusesFolderWithoutReleases()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, description);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString releases = dir.filePath(folder);
    if (folder != "missing") {
        QVERIFY(QDir().mkpath(releases + "/2.1.0"));
    }
    if (!description.isEmpty()) {
        QFile file(releases + "/2.1.0/release.json");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(description);
    }

    QString error;
    QVERIFY(!ReleaseCatalogue::load(releases, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
}

void TestServe::commandServesUntilTerminated()
{
    QProcess tool;
    tool.start(toolPath(), {"serve", "--releases", m_releases, "--port", "0"});
    QTRY_VERIFY(tool.canReadLine());
    const QString banner = QString::fromLocal8Bit(tool.readLine());
    const QRegularExpressionMatch check =
        QRegularExpression("updateCheckUrl (http://127\\.0\\.0\\.1:\\d+/check),").match(banner);
    QVERIFY2(check.hasMatch(), qPrintable(banner));
    QVERIFY(banner.contains("newest " + kNewest));

    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(postCheck(network, check.captured(1), checkBody(kNewest)));
    QTRY_VERIFY(reply->isFinished());
    QCOMPARE(QJsonDocument::fromJson(reply->readAll())["biz"]["update"].toString(), QString("0"));
    QTRY_VERIFY(tool.canReadLine());
    QVERIFY(tool.readLine().contains(" POST /check -> 200, "));

    tool.terminate();
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(tool.readAll(), QByteArray("stopping on SIGTERM\n"));
}

void TestServe::commandRefuses_data()
{
    QTest::addColumn<QString>("releases");
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<QString>("message");

    QTest::newRow("port taken") << "releases" << true << ": the port is taken";
    QTest::newRow("no release") << "2.1.0" << false << "holds no release";
}

void TestServe::commandRefuses()
{
    QFETCH(QString, releases);
    QFETCH(bool, portTaken);
    QFETCH(QString, message);
    UpdateService occupant;
    QVERIFY(occupant.start());
    const int port = portTaken ? occupant.port() : 0;

    const ToolRun run =
        runTool({"serve", "--releases", m_dir.filePath(releases), "--port", QString::number(port)});

    QCOMPARE(run.exitCode, 1);
    const QString error = QString::fromLocal8Bit(run.standardError);
    QVERIFY2(error.startsWith("update-service: ") && error.contains(message), qPrintable(error));
    QCOMPARE(error.count('\n'), 1);
    QVERIFY(run.standardOutput.isEmpty());
}

QTEST_GUILESS_MAIN(TestServe)
#include "tst_serve.moc"
