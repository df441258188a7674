#include "checkanswer.h"
#include "sandbox.h"
#include "updateservice.h"
#include "zipbuilder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <csignal>

namespace {
const QString kLink = QStringLiteral("pord-meeting://room/42");
}

// The built program, copied beside an installed client, run as a user's machine runs it.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void noUpdateRelaunchesClient_data();
    void noUpdateRelaunchesClient();
    void unusableConfigurationEndsQuietly_data();
    void unusableConfigurationEndsQuietly();
    void secondInstanceEndsAtOnce();
    void killedRunDoesNotBlockTheNext();
    void runningClient_data();
    void runningClient();
    void zipPackageInstalled();
    void installerStarted();

private:
    std::unique_ptr<updateservice::UpdateService> m_service;
    std::unique_ptr<Sandbox> m_sandbox;
};

void TestProgram::init()
{
    m_service = std::make_unique<updateservice::UpdateService>();
    QVERIFY(m_service->start());
    m_sandbox = std::make_unique<Sandbox>();
    m_sandbox->writeInstalledConfig(QString::fromStdString(m_service->checkUrl()),
                                    QString::fromStdString(m_service->baseUrl() + "/pack/"));
}

void TestProgram::cleanup()
{
    m_sandbox.reset();
    m_service.reset();
}

void TestProgram::noUpdateRelaunchesClient_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("clientArguments");
    QTest::newRow("no arguments") << QStringList() << QStringList{"-autoupdate"};
    QTest::newRow("switches and a link")
        << QStringList{"-noremid", "a", kLink, "b"} << QStringList{"a", "b", "--url=room/42"};
}

void TestProgram::noUpdateRelaunchesClient()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, clientArguments);
    int exitCode = -2;
    QProcess* updater = m_sandbox->startUpdater(arguments);
    QVERIFY(updater->waitForFinished(20000));
    exitCode = updater->exitCode();

    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(m_sandbox->clientLaunches().size(), 1);
    QCOMPARE(m_sandbox->clientLaunches().first(), clientArguments);
    QCOMPARE(m_service->requestCount(), size_t(1));

    const QString log = m_sandbox->logText();
    QVERIFY2(log.contains("] [INFO] (global.cpp:"), qPrintable(log));
    QVERIFY(log.contains("currentVersion: \"2.0.3\""));
    QVERIFY(log.contains("\"QuorvexClient\"  starting...\r\n"));
    QCOMPARE(log.count("cmd line parameters : "), arguments.size());
    QVERIFY(!log.contains("curent work path:"));
    QVERIFY(QString::fromLocal8Bit(updater->readAllStandardError()).contains("curent work path:"));
}

void TestProgram::unusableConfigurationEndsQuietly_data()
{
    QTest::addColumn<QByteArray>("installedConfig");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("broken") << QByteArray("{\"appName\": ");
}

void TestProgram::unusableConfigurationEndsQuietly()
{
    QFETCH(QByteArray, installedConfig);
    QFile::remove(m_sandbox->programDir() + "/updateconfig.json");
    if (!installedConfig.isEmpty())
        m_sandbox->writeRawInstalledConfig(installedConfig);

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({}, &exitCode));
    QCOMPARE(exitCode, 0);
    QTest::qWait(1500);
    QVERIFY(m_sandbox->clientLaunches().isEmpty());
    QCOMPARE(m_service->requestCount(), size_t(0));
}

void TestProgram::secondInstanceEndsAtOnce()
{
    m_service->setHoldChecks(true);
    QProcess* first = m_sandbox->startUpdater({});
    QTRY_COMPARE_WITH_TIMEOUT(m_service->requestCount(), size_t(1), 10000);

    QProcess* second = m_sandbox->startUpdater({});
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(static_cast<signed char>(second->exitCode()), -1);
    QVERIFY(QString::fromLocal8Bit(second->readAllStandardError()).contains("App is run"));

    m_service->setHoldChecks(false);
    QVERIFY(first->waitForFinished(10000));
    QCOMPARE(first->exitCode(), 0);
    QTRY_COMPARE(m_sandbox->clientLaunches().size(), 1);
}

void TestProgram::killedRunDoesNotBlockTheNext()
{
    m_service->setHoldChecks(true);
    QProcess* killed = m_sandbox->startUpdater({});
    QTRY_COMPARE_WITH_TIMEOUT(m_service->requestCount(), size_t(1), 10000);
    ::kill(static_cast<pid_t>(killed->processId()), SIGKILL);
    QVERIFY(killed->waitForFinished(5000));
    m_service->setHoldChecks(false);

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({}, &exitCode));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(m_sandbox->clientLaunches().size(), 1);
}

void TestProgram::runningClient_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("clientArguments");
    QTest::addColumn<int>("checks");
    QTest::newRow("meeting link handed over")
        << QStringList{kLink} << QStringList{"--url=room/42"} << 0;
    QTest::newRow("no arguments, relaunched") << QStringList() << QStringList{"-autoupdate"} << 0;
    QTest::newRow("-noremid checks anyway")
        << QStringList{"-noremid"} << QStringList{"-autoupdate"} << 1;
}

void TestProgram::runningClient()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, clientArguments);
    QFETCH(int, checks);
    m_sandbox->startLingeringClient();

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater(arguments, &exitCode));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(m_sandbox->clientLaunches().size(), 1);
    QCOMPARE(m_sandbox->clientLaunches().first(), clientArguments);
    QCOMPARE(m_service->requestCount(), size_t(checks));
    QVERIFY(m_sandbox->logText().contains("\"QuorvexClient\"  Already Run..."));
}

void TestProgram::zipPackageInstalled()
{
    const QString top = QStringLiteral("QuorvexClient_2.1.0/");
    const QString zipPath = m_sandbox->root() + "/package.zip";
    QVERIFY(ZipBuilder()
                .directory(top)
                .directory(top + "config/")
                .file(top + "config/client.json", R"({"client":{"version":"2.1.0"}})")
                .directory(top + "data/")
                .file(top + "data/readme.txt", "new release")
                .write(zipPath));
    QFile zip(zipPath);
    QVERIFY(zip.open(QIODevice::ReadOnly));
    const QByteArray package = zip.readAll();
    m_service->addPackage("77", package.toStdString());
    CheckAnswer answer;
    answer.forPackage(package).notes = QStringLiteral("修复了问题&Fixed issues");
    m_service->setCheckResponse(200, answer.toStdString());
    m_sandbox->writeLanguage("zh");

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({"-immediately", "pord-meeting://room/7"}, &exitCode));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(m_sandbox->clientLaunches().size(), 1);
    QCOMPARE(m_sandbox->clientLaunches().first(), QStringList{"--url=room/7"});

    QFile readme(m_sandbox->clientDir() + "/data/readme.txt");
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QCOMPARE(readme.readAll(), QByteArray("new release"));
    QFile state(m_sandbox->userStatePath());
    QVERIFY(state.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(state.readAll()).object().value("currentVersion").toString(),
             QStringLiteral("2.1.0"));
    QFile notes(m_sandbox->clientDataDir() + "/update.log");
    QVERIFY(notes.open(QIODevice::ReadOnly));
    QCOMPARE(notes.readAll(), QStringLiteral("修复了问题").toUtf8());
    QFile marker(m_sandbox->clientDataDir() + "/isShowUpdataInfo.txt");
    QVERIFY(marker.open(QIODevice::ReadOnly));
    QCOMPARE(marker.readAll(), QByteArray("1"));
    QVERIFY(m_sandbox->logText().contains(" copy file successed\r\n"));
}

void TestProgram::installerStarted()
{
    const QString record = m_sandbox->root() + "/installer-arguments.txt";
    const QByteArray installer = "#!/bin/sh\necho \"$@\" > '" + record.toUtf8() + "'\n";
    m_service->addPackage("77", installer.toStdString());
    CheckAnswer answer;
    answer.forPackage(installer).updateType = 0;
    answer.latestVersionUrl = "https://cdn.invalid/r/QuorvexSetup_2.1.0.sh";
    m_service->setCheckResponse(200, answer.toStdString());

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({"-immediately", "-noremid", "x"}, &exitCode));
    QCOMPARE(exitCode, 0);
    auto recorded = [&record] {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_COMPARE(recorded(), QByteArray("x\n"));
    QVERIFY(m_sandbox->clientLaunches().isEmpty());
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
