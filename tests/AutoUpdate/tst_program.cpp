#include "checkanswer.h"
#include "clientfiles.h"
#include "fakeupdateservice.h"
#include "publisher.h"
#include "releasecatalogue.h"
#include "sandbox.h"
#include "signingkey.h"
#include "zipbuilder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kLink = QStringLiteral("pord-meeting://room/42");
constexpr int kRunTimeoutMs = 60000;
} // namespace

// The built program installed beside a stand-in client, run as a user's machine runs it, against
// the update service on 127.0.0.1: what only the whole program shows. The Windows program runs
// the roads of its own under Wine (Wine's taskkill and xcopy, the stand-ins tasklist.exe and
// nircmd.exe).
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void clientRelaunched_data();
    void clientRelaunched();
    void zipPackageInstalled();
    void installerStarted();
    void failingCopyRestored();
    void killedInstallRestoredAtNextStart_data();
    void killedInstallRestoredAtNextStart();
#ifndef PROGRAM_UNDER_WINE
    void signedRelease();
    void secondInstanceEndsAtOnce();
#endif

private:
    void offerRelease(const QString& notes = QStringLiteral("说明&Notes"));
    QList<QStringList> launches() const
    {
        return ClientFiles::launches(m_sandbox->clientDir());
    }
    QByteArray clientFile(const QString& name) const
    {
        return ClientFiles::read(m_sandbox->clientDir() + '/' + name);
    }
    QString updaterFile(const QString& name) const
    {
        return m_sandbox->userDir("AutoUpdate/" + name);
    }

    std::unique_ptr<FakeUpdateService> m_service;
    std::unique_ptr<Sandbox> m_sandbox;
};

void TestProgram::init()
{
    m_service = std::make_unique<FakeUpdateService>();
    QVERIFY(m_service->start());
    m_sandbox = std::make_unique<Sandbox>();
    QVERIFY(m_sandbox->isValid());
    m_sandbox->writeInstalledConfig(QString::fromStdString(m_service->checkUrl()),
                                    QString::fromStdString(m_service->packageUrl()));
}

void TestProgram::cleanup()
{
    m_sandbox.reset();
    m_service.reset();
}

// With no update offered, or a client already running, the client is started with the
// arguments meant for it; a running client is checked for only when asked.
void TestProgram::clientRelaunched_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QStringList>("clientArguments");
    QTest::addColumn<int>("checks");
    QTest::newRow("no arguments") << QStringList() << false << QStringList{"-autoupdate"} << 1;
    QTest::newRow("switches and a link") << QStringList{"-noremid", "a b", kLink, "b"} << false
                                         << QStringList{"a b", "b", "--url=room/42"} << 1;
#ifndef PROGRAM_UNDER_WINE
    QTest::newRow("running, meeting link handed over")
        << QStringList{kLink} << true << QStringList{"--url=room/42"} << 0;
    QTest::newRow("running, no arguments")
        << QStringList() << true << QStringList{"-autoupdate"} << 0;
    QTest::newRow("running, -noremid checks anyway")
        << QStringList{"-noremid"} << true << QStringList{"-autoupdate"} << 1;
#endif
}

void TestProgram::clientRelaunched()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, running);
    QFETCH(QStringList, clientArguments);
    QFETCH(int, checks);
    if (running) {
        m_sandbox->startLingeringClient();
        QTRY_VERIFY(QFile::exists(m_sandbox->clientDir() + "/launches.jsonl"));
    }
    QProcess* updater = m_sandbox->startUpdater(arguments);
    QVERIFY(updater->waitForFinished(kRunTimeoutMs));

    QCOMPARE(updater->exitCode(), 0);
    QTRY_COMPARE(launches(), QList<QStringList>{clientArguments});
    QCOMPARE(m_service->requestCount(), size_t(checks));
    const QByteArray log = m_sandbox->logBytes();
    // Every line of the log file ends with "\r\n", on every system.
    QVERIFY2(log.endsWith("\r\n") && !QString(log).contains(QRegularExpression("[^\r]\n")),
             log.constData());
    QCOMPARE(log.count("cmd line parameters : "), arguments.size());
    QCOMPARE(log.contains("\"  Already Run..."), running);
    const QString workPath =
        "curent work path: \"" + m_sandbox->programPath(m_sandbox->programDir());
    QVERIFY(QString::fromLocal8Bit(updater->readAllStandardError()).contains(workPath));
}

// A release that replaces the client's program (packed without an execute bit, as packages made
// on Windows are), its configuration and one of its files, and adds a file beside the program, one
// in a folder the client has and one in a folder of its own.
void TestProgram::offerRelease(const QString& notes)
{
    ClientFiles::write(m_sandbox->clientDir() + "/data files/old.txt", "old");
    const QString program = m_sandbox->clientName();
    const QString top = QStringLiteral("QuorvexClient_2.1.0/");
    const QTemporaryDir dir;
    const QString zipPath = dir.filePath("package.zip");
    QVERIFY(ZipBuilder()
                .directory(top)
                .file(top + program, clientFile(program))
                .file(top + "added.txt", "added")
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
    answer.forPackage(package).biz["latestVersionInfo"] = notes;
    m_service->setCheckResponse(200, answer.toStdString());
}

// The running client is stopped, the package is copied over the installation folder (names with
// spaces included), and the new version is confirmed and recorded.
void TestProgram::zipPackageInstalled()
{
    offerRelease(QStringLiteral("修复了问题&Fixed issues"));
    ClientFiles::write(m_sandbox->userDir("quorvexAssistant/language.txt"), "zh");
    QProcess* running = m_sandbox->startLingeringClient();
    QTRY_COMPARE(QFile::exists(m_sandbox->clientDir() + "/launches.jsonl"), true);

    QVERIFY(m_sandbox->runUpdater({"-immediately", "x"}));
    QTRY_COMPARE(running->state(), QProcess::NotRunning);
    QTRY_COMPARE(launches(), QList<QStringList>{{"x"}});
    QCOMPARE(clientFile("data files/read me.txt"), QByteArray("new release"));
    QCOMPARE(clientFile("data files/old.txt"), QByteArray("new"));
    QVERIFY(!QFile::exists(updaterFile("install-journal.json")));
    const QJsonObject state =
        QJsonDocument::fromJson(ClientFiles::read(updaterFile("updateconfig.json"))).object();
    QCOMPARE(state.value("currentVersion").toString(), QStringLiteral("2.1.0"));
    QCOMPARE(ClientFiles::read(m_sandbox->userDir("quorvexAssistant/update.log")),
             QStringLiteral("修复了问题").toUtf8());
    QVERIFY(m_sandbox->logBytes().contains(" copy file successed\r\n"));
}

// The stand-in client serves as the installer: it records its start in the download folder.
void TestProgram::installerStarted()
{
    const QByteArray installer = clientFile(m_sandbox->clientName());
    m_service->addPackage("77", installer.toStdString());
    CheckAnswer answer;
    answer.forPackage(installer).biz["updateType"] = 0;
    answer.biz["latestVersionUrl"] = "https://cdn.invalid/r/QuorvexSetup_2.1.0.exe";
    m_service->setCheckResponse(200, answer.toStdString());

    QVERIFY(m_sandbox->runUpdater({"-immediately", "-noremid", "x"}));
    QTRY_COMPARE(ClientFiles::launches(updaterFile("QuorvexClient")), QList<QStringList>{{"x"}});
    QVERIFY(launches().isEmpty());
}

// The copy fails on a folder that stands where the package has a file: what it replaced is put
// back and what it added is removed (under Wine through the updater in copy mode, elevated as the
// copy was), and the run waits on the failure with its retry.
void TestProgram::failingCopyRestored()
{
    offerRelease();
    ClientFiles::write(m_sandbox->clientDir() + "/data files/read me.txt/kept.txt", "in the way");
    const QMap<QString, QByteArray> before = ClientFiles::tree(m_sandbox->clientDir());

    QProcess* updater = m_sandbox->startUpdater({"-immediately"});
    QTRY_VERIFY_WITH_TIMEOUT(m_sandbox->logBytes().contains("client folder restored:"),
                             kRunTimeoutMs);
    QVERIFY(m_sandbox->logBytes().contains("copy file error: "));
    QCOMPARE(ClientFiles::tree(m_sandbox->clientDir()), before);
    QCOMPARE(updater->state(), QProcess::Running);
    QVERIFY(launches().isEmpty());
#ifdef PROGRAM_UNDER_WINE
    QCOMPARE(ClientFiles::read(updaterFile("remove-verdict")), QByteArray("0"));
#endif
}

// The updater and its copy are killed at some point of the copy; the next start, with no update
// offered, puts the client folder back file by file before it reads the client's version.
void TestProgram::killedInstallRestoredAtNextStart_data()
{
    QTest::addColumn<QString>("stage");
    QTest::newRow("during the copy") << "during";
#ifndef PROGRAM_UNDER_WINE
    QTest::newRow("before the copy") << "before";
    QTest::newRow("after the copy") << "after";
#endif
}

void TestProgram::killedInstallRestoredAtNextStart()
{
    QFETCH(QString, stage);
    offerRelease();
    const QMap<QString, QByteArray> before = ClientFiles::tree(m_sandbox->clientDir());
    m_sandbox->holdCopy(stage);
    QProcess* killed = m_sandbox->startUpdater({"-immediately"});
    QTRY_VERIFY2_WITH_TIMEOUT(m_sandbox->copyHeld(), m_sandbox->logBytes().constData(),
                              kRunTimeoutMs);
    if (stage == "during") // as a copy cut off while it wrote a file
        ClientFiles::write(m_sandbox->clientDir() + "/config/client.json", "");
    m_sandbox->killWithHeldCopy(killed);
    const QString journal = updaterFile("install-journal.json");
    QVERIFY(QFile::exists(journal));

    CheckAnswer nothingNew;
    nothingNew.biz["update"] = "0";
    m_service->setCheckResponse(200, nothingNew.toStdString());
    QVERIFY(m_sandbox->runUpdater({}));
    QTRY_COMPARE(launches(), QList<QStringList>{{"-autoupdate"}});
    QMap<QString, QByteArray> after = ClientFiles::tree(m_sandbox->clientDir());
    after.remove("launches.jsonl");
    QCOMPARE(after, before);
    QVERIFY(!QFile::exists(journal));
}

#ifndef PROGRAM_UNDER_WINE
// A release published with a signing key and served by the serve command, to an updater that
// names the key's public half.
void TestProgram::signedRelease()
{
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
    QVERIFY2(updateservice::publish(request, &error), qPrintable(error));
    const std::optional<updateservice::ReleaseCatalogue> catalogue =
        updateservice::ReleaseCatalogue::load(request.releasesDir, &error);
    QVERIFY2(catalogue && catalogue->serveWith(*m_service, &error), qPrintable(error));
    m_sandbox->writeInstalledConfig(QString::fromStdString(m_service->checkUrl()),
                                    QString::fromStdString(m_service->packageUrl()),
                                    keys->publicKey);

    QVERIFY(m_sandbox->runUpdater({"-immediately", "x"}));
    QTRY_COMPARE(launches(), QList<QStringList>{{"x"}});
    QCOMPARE(clientFile("data files/read me.txt"), QByteArray("signed release"));
    QCOMPARE(ClientFiles::read(updaterFile("installedsequence.txt")), QByteArray("1\n"));
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
    QTRY_COMPARE(launches().size(), 1);
}
#endif

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
