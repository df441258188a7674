#include "checkanswer.h"
#include "clientfiles.h"
#include "fakeupdateservice.h"
#include "publisher.h"
#include "releasecatalogue.h"
#include "signingkey.h"
#include "zipbuilder.h"

#ifdef PROGRAM_UNDER_WINE
#include "winesandbox.h"
using ProgramSandbox = WineSandbox;
#else
#include "sandbox.h"
using ProgramSandbox = Sandbox;
#include <csignal>
#endif

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kLink = QStringLiteral("pord-meeting://room/42");
constexpr int kRunTimeoutMs = 60000;

// Replaces the package of a published release by another client build of the same version, and
// forges the release's digest and size to match the new bytes; its signature stays.
bool swapPackage(updateservice::Release release)
{
    const QString top = QStringLiteral("QuorvexClient_2.1.0/");
    const QString package = release.packageFilePath();
    if (!QFile::remove(package) ||
        !ZipBuilder()
             .directory(top)
             .directory(top + "config/")
             .file(top + "config/client.json", ClientFiles::config("2.1.0"))
             .directory(top + "data files/")
             .file(top + "data files/read me.txt", "forged release")
             .write(package))
        return false;
    CheckAnswer forged;
    forged.forPackage(ClientFiles::read(package));
    release.biz.insert("md5", forged.md5);
    release.biz.insert("packageSize", forged.packageSize);
    return updateservice::writeRelease(release, nullptr);
}

#ifndef PROGRAM_UNDER_WINE
// Stands in for cp in the copy over the client: copies nothing (%1 "before"), everything but an
// empty configuration ("during"), or everything ("after"); then writes its process id into the
// file %2 and waits, as a copy still running, to be killed with the updater.
const char* const kStoppedCopy = R"(#!/bin/sh
for target; do :; done
case "%1" in
during) /bin/cp "$@" && : >"$target/config/client.json" ;;
after) /bin/cp "$@" ;;
esac
echo $$ >"%2.part" && mv "%2.part" "%2"
exec sleep 60
)";
#endif

// Every line of the log file ends with "\r\n", on every system.
bool hasWindowsLineEnds(const QByteArray& log)
{
    return log.endsWith("\r\n") &&
           !QString::fromLatin1(log).contains(QRegularExpression("[^\r]\n"));
}
} // namespace

// The built program installed beside a stand-in client, run as a user's machine runs it, against
// the update service on 127.0.0.1. The same cases run the Linux program directly and the Windows
// program under Wine (with Wine's taskkill and xcopy and the stand-in tasklist.exe and nircmd.exe).
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void noUpdateRelaunchesClient_data();
    void noUpdateRelaunchesClient();
    void runningClient_data();
    void runningClient();
    void zipPackageInstalled();
    void installerStarted();
    void signedRelease_data();
    void signedRelease();
#ifndef PROGRAM_UNDER_WINE
    void unusableConfigurationEndsQuietly_data();
    void unusableConfigurationEndsQuietly();
    void secondInstanceEndsAtOnce();
    void killedRunDoesNotBlockTheNext();
    void failingCopyRestored();
    void killedInstallRestoredAtNextStart_data();
    void killedInstallRestoredAtNextStart();
#endif

private:
    QString logLine(const char* text) const;
    void offerRelease(const QString& notes = QStringLiteral("说明&Notes"));

    std::unique_ptr<FakeUpdateService> m_service;
    std::unique_ptr<ProgramSandbox> m_sandbox;
};

void TestProgram::init()
{
    m_service = std::make_unique<FakeUpdateService>();
    QVERIFY(m_service->start());
    m_sandbox = std::make_unique<ProgramSandbox>();
    QVERIFY(m_sandbox->isValid());
    m_sandbox->writeInstalledConfig(QString::fromStdString(m_service->checkUrl()),
                                    QString::fromStdString(m_service->packageUrl()));
}

void TestProgram::cleanup()
{
    m_sandbox.reset();
    m_service.reset();
}

// A log line about the client, which is named "QuorvexClient" or "QuorvexClient.exe".
QString TestProgram::logLine(const char* text) const
{
    return '"' + m_sandbox->clientName() + "\"  " + text;
}

void TestProgram::noUpdateRelaunchesClient_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("clientArguments");
    QTest::newRow("no arguments") << QStringList() << QStringList{"-autoupdate"};
    QTest::newRow("switches and a link")
        << QStringList{"-noremid", "a b", kLink, "b"} << QStringList{"a b", "b", "--url=room/42"};
}

void TestProgram::noUpdateRelaunchesClient()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, clientArguments);
    QProcess* updater = m_sandbox->startUpdater(arguments);
    QVERIFY(updater->waitForFinished(kRunTimeoutMs));

    QCOMPARE(updater->exitCode(), 0);
    QTRY_COMPARE(m_sandbox->clientLaunches(), QList<QStringList>{clientArguments});
    QCOMPARE(m_service->requestCount(), size_t(1));
    const QByteArray log = m_sandbox->logBytes();
    QVERIFY2(hasWindowsLineEnds(log), log.constData());
    QVERIFY(log.contains("] [INFO] (global.cpp:"));
    QVERIFY(log.contains(logLine("starting...\r\n").toLocal8Bit()));
    QCOMPARE(log.count("cmd line parameters : "), arguments.size());
    QVERIFY(!log.contains("curent work path:"));
    const QString workPath =
        "curent work path: \"" + m_sandbox->programPath(m_sandbox->programDir());
    QVERIFY(QString::fromLocal8Bit(updater->readAllStandardError()).contains(workPath));
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
    QTRY_COMPARE(QFile::exists(m_sandbox->clientDir() + "/launches.jsonl"), true);

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater(arguments, &exitCode, kRunTimeoutMs));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(m_sandbox->clientLaunches(), QList<QStringList>{clientArguments});
    QCOMPARE(m_service->requestCount(), size_t(checks));
    QVERIFY(m_sandbox->logBytes().contains(logLine("Already Run...").toLocal8Bit()));
}

// A release that replaces the client's program (packed without an execute bit, as packages made
// on Windows are), its configuration and one of its files, and adds one file beside them and one
// in a folder of its own.
void TestProgram::offerRelease(const QString& notes)
{
    ClientFiles::write(m_sandbox->clientDir() + "/data files/old.txt", "old");
    const QString program = m_sandbox->clientName();
    const QString top = QStringLiteral("QuorvexClient_2.1.0/");
    const QTemporaryDir dir;
    const QString zipPath = dir.filePath("package.zip");
    QVERIFY(ZipBuilder()
                .directory(top)
                .file(top + program, ClientFiles::read(m_sandbox->clientDir() + '/' + program))
                .directory(top + "config/")
                .file(top + "config/client.json", ClientFiles::config("2.1.0"))
                .directory(top + "data files/")
                .file(top + "data files/old.txt", "new")
                .file(top + "data files/read me.txt", "new release")
                .directory(top + "plugins/")
                .file(top + "plugins/plugin.dat", "new plugin")
                .write(zipPath));
    const QByteArray package = ClientFiles::read(zipPath);
    m_service->addPackage("77", package.toStdString());
    CheckAnswer answer;
    answer.forPackage(package).notes = notes;
    m_service->setCheckResponse(200, answer.toStdString());
}

// The running client is stopped, the package is copied over the installation folder (names with
// spaces included), and the new version is confirmed and recorded.
void TestProgram::zipPackageInstalled()
{
    offerRelease(QStringLiteral("修复了问题&Fixed issues"));
    m_sandbox->writeLanguage("zh");
    QProcess* running = m_sandbox->startLingeringClient();
    QTRY_COMPARE(QFile::exists(m_sandbox->clientDir() + "/launches.jsonl"), true);

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({"-immediately", "x"}, &exitCode, kRunTimeoutMs));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(running->state(), QProcess::NotRunning);
    QTRY_COMPARE(m_sandbox->clientLaunches(), QList<QStringList>{{"x"}});

    QCOMPARE(ClientFiles::read(m_sandbox->clientDir() + "/data files/read me.txt"),
             QByteArray("new release"));
    QCOMPARE(ClientFiles::read(m_sandbox->clientDir() + "/data files/old.txt"), QByteArray("new"));
    QVERIFY(!QFile::exists(m_sandbox->updaterDir() + "/install-journal.json"));
    QVERIFY(!QFile::exists(m_sandbox->updaterDir() + "/install-backup"));
    const QJsonObject state =
        QJsonDocument::fromJson(ClientFiles::read(m_sandbox->updaterDir() + "/updateconfig.json"))
            .object();
    QCOMPARE(state.value("currentVersion").toString(), QStringLiteral("2.1.0"));
    QCOMPARE(ClientFiles::read(m_sandbox->clientDataDir() + "/update.log"),
             QStringLiteral("修复了问题").toUtf8());
    QCOMPARE(ClientFiles::read(m_sandbox->clientDataDir() + "/isShowUpdataInfo.txt"),
             QByteArray("1"));
    const QByteArray log = m_sandbox->logBytes();
    QVERIFY(log.contains(" copy file successed\r\n"));
    QVERIFY(log.contains("no publicKey configured: updates are not signed\r\n"));
    QVERIFY(!QFile::exists(m_sandbox->updaterDir() + "/installedsequence.txt"));
}

// The stand-in client serves as the installer: it records its start in the download folder.
void TestProgram::installerStarted()
{
    const QByteArray installer =
        ClientFiles::read(m_sandbox->clientDir() + '/' + m_sandbox->clientName());
    QVERIFY(!installer.isEmpty());
    m_service->addPackage("77", installer.toStdString());
    CheckAnswer answer;
    answer.forPackage(installer).updateType = 0;
    answer.latestVersionUrl = "https://cdn.invalid/r/QuorvexSetup_2.1.0.exe";
    m_service->setCheckResponse(200, answer.toStdString());

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({"-immediately", "-noremid", "x"}, &exitCode, kRunTimeoutMs));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(ClientFiles::launches(m_sandbox->updaterDir() + "/QuorvexClient"),
                 QList<QStringList>{{"x"}});
    QVERIFY(m_sandbox->clientLaunches().isEmpty());
}

void TestProgram::signedRelease_data()
{
    QTest::addColumn<bool>("packageSwapped");
    QTest::newRow("installed") << false;
    QTest::newRow("package swapped, md5 and size forged") << true;
}

// A release published with a signing key and served by the serve command, to an updater that
// names the key's public half.
void TestProgram::signedRelease()
{
    QFETCH(bool, packageSwapped);
    const QTemporaryDir dir;
    QString error;
    const std::optional<updateservice::KeyFiles> keys =
        updateservice::writeKeyPair(dir.filePath("keys"), &error);
    QVERIFY2(keys, qPrintable(error));
    updateservice::PublishRequest request;
    request.buildPath = dir.filePath("build");
    ClientFiles::write(request.buildPath + "/config/client.json", ClientFiles::config("2.1.0"));
    ClientFiles::write(request.buildPath + "/data files/read me.txt", "signed release");
    request.version = "2.1.0";
    request.name = "QuorvexClient";
    request.releasesDir = dir.filePath("releases");
    request.signingKeyPath = keys->secretKeyPath;
    const std::optional<updateservice::Release> release = updateservice::publish(request, &error);
    QVERIFY2(release, qPrintable(error));
    if (packageSwapped)
        QVERIFY(swapPackage(*release));
    const std::optional<updateservice::ReleaseCatalogue> catalogue =
        updateservice::ReleaseCatalogue::load(request.releasesDir, &error);
    QVERIFY2(catalogue && catalogue->serveWith(*m_service, &error), qPrintable(error));
    m_sandbox->writeInstalledConfig(QString::fromStdString(m_service->checkUrl()),
                                    QString::fromStdString(m_service->packageUrl()),
                                    keys->publicKey);

    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({"-immediately", "x"}, &exitCode, kRunTimeoutMs));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(m_sandbox->clientLaunches(), QList<QStringList>{{"x"}});

    // A refused release is not even downloaded: the check is the only request.
    QCOMPARE(m_service->requestCount(), size_t(packageSwapped ? 1 : 2));
    QCOMPARE(ClientFiles::read(m_sandbox->clientDir() + "/data files/read me.txt"),
             packageSwapped ? QByteArray() : QByteArray("signed release"));
    QCOMPARE(ClientFiles::read(m_sandbox->updaterDir() + "/installedsequence.txt"),
             packageSwapped ? QByteArray() : QByteArray("1\n"));
    QCOMPARE(m_sandbox->logBytes().contains("release signature refused: does not verify\r\n"),
             packageSwapped);
}

#ifndef PROGRAM_UNDER_WINE
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

// cp fails halfway, on a folder that stands where the package has a file: what it copied is put
// back and what it added is removed, and the run waits on the failure with its retry.
void TestProgram::failingCopyRestored()
{
    offerRelease();
    ClientFiles::write(m_sandbox->clientDir() + "/data files/read me.txt/kept.txt", "in the way");
    const QMap<QString, QByteArray> before = ClientFiles::tree(m_sandbox->clientDir());

    QProcess* updater = m_sandbox->startUpdater({"-immediately"});
    QTRY_VERIFY_WITH_TIMEOUT(m_sandbox->logBytes().contains("client folder restored:"),
                             kRunTimeoutMs);
    QVERIFY(m_sandbox->logBytes().contains("copy file error: exit code 1\r\n"));
    QCOMPARE(ClientFiles::tree(m_sandbox->clientDir()), before);
    QCOMPARE(updater->state(), QProcess::Running);
    QVERIFY(m_sandbox->clientLaunches().isEmpty());
}

// The updater and its copy are killed at some point of the copy; the next start, with no update
// offered, puts the client folder back file by file before it reads the client's version.
void TestProgram::killedInstallRestoredAtNextStart_data()
{
    QTest::addColumn<QString>("stage");
    QTest::newRow("before the copy") << "before";
    QTest::newRow("during the copy") << "during";
    QTest::newRow("after the copy") << "after";
}

void TestProgram::killedInstallRestoredAtNextStart()
{
    QFETCH(QString, stage);
    offerRelease();
    const QMap<QString, QByteArray> before = ClientFiles::tree(m_sandbox->clientDir());
    const QString tools = m_sandbox->root() + "/tools";
    const QString copyPid = m_sandbox->root() + "/copy.pid";
    ClientFiles::write(tools + "/cp", QString(kStoppedCopy).arg(stage, copyPid).toUtf8());
    QFile::setPermissions(tools + "/cp", QFile::permissions(tools + "/cp") | QFile::ExeOwner);
    m_sandbox->setToolFolder(tools);

    QProcess* killed = m_sandbox->startUpdater({"-immediately"});
    QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(copyPid),
                              (m_sandbox->logBytes() + killed->readAllStandardError()).constData(),
                              kRunTimeoutMs);
    ::kill(static_cast<pid_t>(killed->processId()), SIGKILL);
    ::kill(static_cast<pid_t>(ClientFiles::read(copyPid).trimmed().toLongLong()), SIGKILL);
    QVERIFY(killed->waitForFinished(5000));
    const QString journal = m_sandbox->updaterDir() + "/install-journal.json";
    QVERIFY(QFile::exists(journal));

    m_sandbox->setToolFolder({});
    CheckAnswer nothingNew;
    nothingNew.update = "0";
    m_service->setCheckResponse(200, nothingNew.toStdString());
    int exitCode = -2;
    QVERIFY(m_sandbox->runUpdater({}, &exitCode, kRunTimeoutMs));
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE(m_sandbox->clientLaunches(), QList<QStringList>{{"-autoupdate"}});
    QMap<QString, QByteArray> after = ClientFiles::tree(m_sandbox->clientDir());
    after.remove("launches.jsonl");
    QCOMPARE(after, before);
    QVERIFY(m_sandbox->logBytes().contains("client folder restored:"));
    QVERIFY(!QFile::exists(journal));
}
#endif

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
