#include "checkanswer.h"
#include "clientrun.h"
#include "fakeplatform.h"
#include "fakeupdateservice.h"
#include "global.h"
#include "httpdownloadfile.h"
#include "logcapture.h"
#include "shortwaits.h"
#include "testhome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {
const QString kMarker = QStringLiteral("AppData/Roaming/quorvexAssistant/isShowUpdataInfo.txt");

std::string checkAnswer(const QString& latestVersion, const QString& update,
                        const QString& code = QStringLiteral("000000"))
{
    CheckAnswer answer;
    answer.latestVersion = latestVersion;
    answer.update = update;
    answer.code = code;
    answer.notes = QStringLiteral("中文&English");
    return answer.toStdString();
}
} // namespace

// The network client's check exchange against a local update service, with the client on a
// worker thread as in the program.
class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void requestIsExact();
    void packagePathFromAnswer();
    void timeoutRelaunchesOnce();
    void untrustedCertificateAccepted();
    void clientRunningEndsBeforeAsking();

private:
    void startClient();
    int clientStarts() const { return m_platform->starts().size(); }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<FakeUpdateService> m_service;
    std::unique_ptr<ClientRun> m_run;
    std::unique_ptr<QSignalSpy> m_offers;
};

void TestUpdateCheck::init()
{
    m_home = std::make_unique<TestHome>();
    m_platform = std::make_unique<FakePlatform>();
    m_platform->setProcessListings({QString()});
    m_service = std::make_unique<FakeUpdateService>();
    QVERIFY(m_service->start());
    QDir().mkpath(m_home->updaterDir());
    QDir().mkpath(m_home->clientDataDir());

    g_global.ResetRunEnd();
    g_global.m_appName = "QuorvexClient.exe";
    g_global.m_appPath = "/opt/quorvex/";
    g_global.m_currentVersion = "2.0.3";
    g_global.m_updateCheckUrl = QString::fromStdString(m_service->checkUrl());
    g_global.m_language = "en";
    g_global.m_args.clear();
    g_global.m_remide = 0;
    g_global.m_noRemindVersion.clear();
}

void TestUpdateCheck::cleanup()
{
    m_offers.reset();
    m_run.reset();
    m_service.reset();
    m_platform.reset();
    m_home.reset();
}

void TestUpdateCheck::startClient()
{
    m_run = std::make_unique<ClientRun>();
    m_offers = std::make_unique<QSignalSpy>(m_run->client(), &HttpDownLoadFile::Aupdate);
}

void TestUpdateCheck::answers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("noRemindVersion");
    QTest::addColumn<QString>("offeredMode");
    QTest::addColumn<bool>("markerRemoved");
    QTest::addColumn<QString>("logLine");

    auto answer = [](const char* version, const char* update, const char* code = "000000") {
        return QByteArray::fromStdString(checkAnswer(version, update, code));
    };
    const QStringList none;
    QTest::newRow("offered") << 200 << answer("2.1.0", "1") << none << ""
                             << "1" << true << "";
    QTest::newRow("forced") << 200 << answer("2.1.0", "2") << none << ""
                            << "2" << true << "";
    QTest::newRow("older version offered too") << 200 << answer("1.9.0", "1") << none << ""
                                               << "1" << true << "";
    QTest::newRow("installed version") << 200 << answer("2.0.3", "1") << none << ""
                                       << "" << false << "";
    QTest::newRow("update 0 removes the marker")
        << 200 << answer("2.1.0", "0") << none << ""
        << "" << true << "INFO isShowUpdataInfo.txt is remove";
    QTest::newRow("code error") << 200 << answer("2.1.0", "1", "100001") << none << ""
                                << "" << false << "DEBUG Services Jsondata Code Error: \"100001\"";
    QTest::newRow("not JSON") << 200 << QByteArray("<html>") << none << ""
                              << "" << false << "DEBUG  Recv Services Jsondata Error: 5";
    QTest::newRow("HTTP 500")
        << 500 << answer("2.1.0", "1") << none << ""
        << "" << false << "DEBUG Network Recv Back Error: QNetworkReply::InternalServerError";
    QTest::newRow("reminders off for it") << 200 << answer("2.1.0", "1") << none << "2.1.0"
                                          << "" << true << "";
    QTest::newRow("reminders off, -noremid")
        << 200 << answer("2.1.0", "1") << QStringList{"-noremid"} << "2.1.0"
        << "1" << true << "";
    QTest::newRow("reminders off, -immediately")
        << 200 << answer("2.1.0", "2") << QStringList{"-immediately"} << "2.1.0"
        << "2" << true << "";
    QTest::newRow("reminders off for another version")
        << 200 << answer("2.1.0", "1") << none << "2.0.9"
        << "1" << true << "";
}

void TestUpdateCheck::answers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, arguments);
    QFETCH(QString, noRemindVersion);
    QFETCH(QString, offeredMode);
    QFETCH(bool, markerRemoved);
    QFETCH(QString, logLine);
    m_service->setCheckResponse(status, body.toStdString());
    m_home->writeFile(kMarker, "1");
    g_global.m_args = arguments;
    g_global.m_remide = noRemindVersion.isEmpty() ? 0 : 1;
    g_global.m_noRemindVersion = noRemindVersion;
    LogCapture log;

    startClient();
    if (offeredMode.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, 10000);
        QCOMPARE(m_platform->starts().first().program,
                 QStringLiteral("/opt/quorvex/QuorvexClient.exe"));
        QVERIFY(g_global.IsRunEnded());
        QCOMPARE(m_offers->count(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(m_offers->count(), 1, 10000);
        QCOMPARE(m_offers->first().first().toString(), offeredMode);
        QCOMPARE(clientStarts(), 0);
    }
    QCOMPARE(!QFile::exists(m_home->filePath(kMarker)), markerRemoved);
    if (!logLine.isEmpty())
        QVERIFY2(log.contains(logLine), qPrintable(log.lines().join('\n')));
    QCOMPARE(m_service->requestCount(), size_t(1));
}

void TestUpdateCheck::requestIsExact()
{
    startClient();
    QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, 10000);
    const FakeUpdateService::RecordedRequest request = m_service->requests().at(0);
    QCOMPARE(request.method, std::string("POST"));
    QCOMPARE(request.path, std::string("/check"));
    QCOMPARE(request.body,
             std::string(R"({"clientVersion":"2.0.3","deviceType":"Windows","platform":6})"));
    QCOMPARE(request.header("X-Request-From"), std::string("internal"));
    QCOMPARE(request.header("Content-Type"), std::string("application/json;charset=UTF-8"));
    QCOMPARE(m_platform->starts().first().arguments, QStringList{"-autoupdate"});
}

void TestUpdateCheck::packagePathFromAnswer()
{
    m_service->setCheckResponse(200, checkAnswer("2.1.0", "1"));
    LogCapture log;
    startClient();
    QTRY_COMPARE_WITH_TIMEOUT(m_offers->count(), 1, 10000);
    const QString packDir = m_home->updaterDir() + "/QuorvexClient";
    QVERIFY(QFileInfo(packDir).isDir());
    QVERIFY(log.contains("INFO update fileName:  \"" + packDir + "/QuorvexClient_2.1.0.zip\""));
    QCOMPARE(g_global.m_latestVersionInfo, QStringLiteral("English"));
    QCOMPARE(g_global.m_id, QStringLiteral("77"));
}

void TestUpdateCheck::timeoutRelaunchesOnce()
{
    m_service->setCheckResponse(200, checkAnswer("2.1.0", "1"));
    m_service->setHoldChecks(true);
    LogCapture log;
    QElapsedTimer sinceStart;
    sinceStart.start();
    startClient();

    QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, 20000);
    QVERIFY2(sinceStart.elapsed() >= shortWaits().checkTimeoutMs, "relaunched before the time-out");
    QCOMPARE(log.count("DEBUG NetworkReply Post TimerOut"), 1);

    m_service->setHoldChecks(false);
    QTest::qWait(2 * shortWaits().watchdogPeriodMs);
    QCOMPARE(clientStarts(), 1);
    QCOMPARE(m_offers->count(), 0);
    QCOMPARE(log.count("DEBUG NetworkReply Post TimerOut"), 1);
}

void TestUpdateCheck::untrustedCertificateAccepted()
{
    m_service->stop();
    FakeUpdateService::Options tls;
    tls.tls = true;
    QVERIFY(m_service->start(tls));
    m_service->setCheckResponse(200, checkAnswer("2.1.0", "1"));
    g_global.m_updateCheckUrl = QString::fromStdString(m_service->checkUrl());
    QVERIFY(g_global.m_updateCheckUrl.startsWith("https://"));

    startClient();
    QTRY_COMPARE_WITH_TIMEOUT(m_offers->count(), 1, 10000);
}

void TestUpdateCheck::clientRunningEndsBeforeAsking()
{
    m_platform->setProcessListings({"QuorvexClient.exe"});
    g_global.m_args = QStringList{"pord-meeting://room/42"};
    startClient();
    QTRY_VERIFY_WITH_TIMEOUT(g_global.IsRunEnded(), 10000);
    QCOMPARE(m_platform->starts().first().arguments, QStringList{"--url=room/42"});
    QTest::qWait(200);
    QCOMPARE(m_service->requestCount(), size_t(0));
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
