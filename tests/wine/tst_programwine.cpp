#include "checkanswer.h"
#include "clientfiles.h"
#include "updateservice.h"
#include "winesandbox.h"
#include "zipbuilder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
const QString kLink = QStringLiteral("pord-meeting://room/42");

// Every line of the log file ends with "\r\n".
bool hasWindowsLineEnds(const QByteArray& log)
{
    return log.endsWith("\r\n") &&
           !QString::fromLatin1(log).contains(QRegularExpression("[^\r]\n"));
}
} // namespace

// The Windows program under Wine, installed beside the stand-in client in the build's Wine
// prefix, talking to the update service on 127.0.0.1: the roads of a run end to end, with
// Wine's taskkill and xcopy and the stand-in tasklist.exe and nircmd.exe.
class TestProgramWine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void noUpdateRelaunchesClient_data();
    void noUpdateRelaunchesClient();
    void runningClientGetsMeetingLink();
    void zipPackageInstalled();
    void installerStarted();

private:
    std::unique_ptr<updateservice::UpdateService> m_service;
    std::unique_ptr<WineSandbox> m_sandbox;
};

void TestProgramWine::init()
{
    m_service = std::make_unique<updateservice::UpdateService>();
    QVERIFY(m_service->start());
    m_sandbox = std::make_unique<WineSandbox>();
    QVERIFY(m_sandbox->isValid());
    m_sandbox->writeInstalledConfig(QString::fromStdString(m_service->checkUrl()),
                                    QString::fromStdString(m_service->packageUrl()));
}

void TestProgramWine::cleanup()
{
    m_sandbox.reset();
    m_service.reset();
}

void TestProgramWine::noUpdateRelaunchesClient_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("clientArguments");
    QTest::newRow("no arguments") << QStringList() << QStringList{"-autoupdate"};
    QTest::newRow("switches and a link")
        << QStringList{"-noremid", "a b", kLink, "b"} << QStringList{"a b", "b", "--url=room/42"};
}

void TestProgramWine::noUpdateRelaunchesClient()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, clientArguments);
    QProcess* updater = m_sandbox->startUpdater(arguments);
    QVERIFY(updater->waitForFinished(60000));

    QCOMPARE(updater->exitCode(), 0);
    QTRY_COMPARE(m_sandbox->clientLaunches(), QList<QStringList>{clientArguments});
    QCOMPARE(m_service->requestCount(), size_t(1));
    const QByteArray log = m_sandbox->logBytes();
    QVERIFY2(hasWindowsLineEnds(log), log.constData());
    QVERIFY(log.contains("\"QuorvexClient.exe\"  starting...\r\n"));
    const QString workPath =
        "curent work path: \"" + m_sandbox->windowsPath(m_sandbox->programDir());
    QVERIFY(QString::fromLocal8Bit(updater->readAllStandardError()).contains(workPath));
}

// tasklist.exe finds the running client: the link goes to it at once, without a check.
void TestProgramWine::runningClientGetsMeetingLink()
{
    m_sandbox->startLingeringClient();
    QTRY_COMPARE(QFile::exists(m_sandbox->clientDir() + "/launches.jsonl"), true);

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({kLink}, &exitCode));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(m_sandbox->clientLaunches(), QList<QStringList>{{"--url=room/42"}});
    QCOMPARE(m_service->requestCount(), size_t(0));
    QVERIFY(m_sandbox->logBytes().contains("\"QuorvexClient.exe\"  Already Run..."));
}

// The running client is stopped through tasklist.exe and taskkill, the package is copied over
// the installation folder (whose name holds spaces) by nircmd.exe elevatecmd execmd xcopy.
void TestProgramWine::zipPackageInstalled()
{
    const QString top = QStringLiteral("QuorvexClient_2.1.0/");
    const QTemporaryDir dir;
    const QString zipPath = dir.filePath("package.zip");
    QVERIFY(ZipBuilder()
                .directory(top)
                .directory(top + "config/")
                .file(top + "config/client.json", ClientFiles::config("2.1.0"))
                .directory(top + "data files/")
                .file(top + "data files/read me.txt", "new release")
                .write(zipPath));
    const QByteArray package = ClientFiles::read(zipPath);
    m_service->addPackage("77", package.toStdString());
    CheckAnswer answer;
    answer.forPackage(package).notes = QStringLiteral("修复了问题&Fixed issues");
    m_service->setCheckResponse(200, answer.toStdString());
    m_sandbox->writeLanguage("zh");
    QProcess* running = m_sandbox->startLingeringClient();
    QTRY_COMPARE(QFile::exists(m_sandbox->clientDir() + "/launches.jsonl"), true);

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({"-immediately", "x"}, &exitCode));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(running->state(), QProcess::NotRunning);
    QTRY_COMPARE(m_sandbox->clientLaunches(), QList<QStringList>{{"x"}});

    QCOMPARE(ClientFiles::read(m_sandbox->clientDir() + "/data files/read me.txt"),
             QByteArray("new release"));
    const QJsonObject state =
        QJsonDocument::fromJson(ClientFiles::read(m_sandbox->updaterDir() + "/updateconfig.json"))
            .object();
    QCOMPARE(state.value("currentVersion").toString(), QStringLiteral("2.1.0"));
    QCOMPARE(ClientFiles::read(m_sandbox->clientDataDir() + "/update.log"),
             QStringLiteral("修复了问题").toUtf8());
    QCOMPARE(ClientFiles::read(m_sandbox->clientDataDir() + "/isShowUpdataInfo.txt"),
             QByteArray("1"));
    const QByteArray log = m_sandbox->logBytes();
    QVERIFY(log.contains("\"QuorvexClient.exe\"  Already Run...\r\n"));
    QVERIFY(log.contains(" copy file successed\r\n"));
}

// The stand-in client serves as the installer: it records its start in the download folder.
void TestProgramWine::installerStarted()
{
    const QByteArray installer =
        ClientFiles::read(QStringLiteral(WINDOWS_PROGRAMS "/QuorvexClient.exe"));
    QVERIFY(!installer.isEmpty());
    m_service->addPackage("77", installer.toStdString());
    CheckAnswer answer;
    answer.forPackage(installer).updateType = 0;
    answer.latestVersionUrl = "https://cdn.invalid/r/QuorvexSetup_2.1.0.exe";
    m_service->setCheckResponse(200, answer.toStdString());

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({"-immediately", "-noremid", "x"}, &exitCode));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(ClientFiles::launches(m_sandbox->updaterDir() + "/QuorvexClient"),
                 QList<QStringList>{{"x"}});
    QVERIFY(m_sandbox->clientLaunches().isEmpty());
}

QTEST_GUILESS_MAIN(TestProgramWine)
#include "tst_programwine.moc"
