#include "checkanswer.h"
#include "clientrun.h"
#include "dwondialog.h"
#include "fakeplatform.h"
#include "fakeupdateservice.h"
#include "global.h"
#include "httpdownloadfile.h"
#include "logcapture.h"
#include "shortwaits.h"
#include "testhome.h"
#include "zipbuilder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

namespace {
const QString kPackageName = QStringLiteral("QuorvexClient_2.1.0");
const QString kNetworkText =
    QStringLiteral("Installation failed. Network exception, please check.");

QByteArray clientConfig(const QString& version)
{
    return QJsonDocument(QJsonObject{{"client", QJsonObject{{"version", version}}}}).toJson();
}

// A certificate the client is made to trust, for redirects that start on https.
bool makeTrustedCertificate(const QString& folder)
{
    const int exitCode = QProcess::execute(
        "openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                    "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                    folder + "/key.pem", "-out", folder + "/cert.pem"});
    if (exitCode != 0)
        return false;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(folder + "/cert.pem");
    QSslConfiguration::setDefaultConfiguration(config);
    return true;
}
} // namespace

// The download road in the program's own threads: the network client on a worker thread, the
// dialogs on this one, "-immediately" skipping the prompt, a local service serving the package.
class TestPackageDownload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void zipPackageInstalled_data();
    void zipPackageInstalled();
    void cancelWhileInstalling();
    void installerStarted();
    void unknownTypeInstallsNothing();
    void corruptedPackage_data();
    void corruptedPackage();
    void failures_data();
    void failures();
    void diskFullWhileDownloading();
    void retryStartsAfresh();
    void redirectToHttpRefused();

private:
    void offer(const QByteArray& package, int updateType = 1,
               const std::function<void(CheckAnswer&)>& forge = {});
    void start();
    QString packDir() const { return m_home->updaterDir() + "/QuorvexClient"; }
    QString packagePath() const { return packDir() + "/" + kPackageName + ".zip"; }
    int clientStarts() const { return m_platform->starts().size(); }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<QTemporaryDir> m_install;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<FakeUpdateService> m_service;
    std::unique_ptr<ClientRun> m_run;
    std::unique_ptr<QSignalSpy> m_progress;
    std::unique_ptr<QSignalSpy> m_errors;
    QByteArray m_zip;
    QString m_previousDir;
};

void TestPackageDownload::init()
{
    m_home = std::make_unique<TestHome>();
    m_install = std::make_unique<QTemporaryDir>();
    m_platform = std::make_unique<FakePlatform>();
    m_platform->setFreeSpace("C:\\", 1LL << 40);
    m_platform->setFreeSpace("D:/", 1LL << 40);
    m_service = std::make_unique<FakeUpdateService>();
    QVERIFY(m_service->start());
    QDir().mkpath(m_home->clientDataDir());
    QDir().mkpath(m_install->filePath("AutoUpdate"));
    QDir().mkpath(m_install->filePath("config"));
    QFile config(m_install->filePath("config/client.json"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(clientConfig("2.0.3"));
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_install->filePath("AutoUpdate"));

    const QString top = kPackageName + "/";
    const QString zipPath = m_install->filePath("package.zip");
    QVERIFY(ZipBuilder()
                .directory(top)
                .directory(top + "config/")
                .file(top + "config/client.json", clientConfig("2.1.0"))
                .file(top + "app.dat", QByteArray(300000, 'q'))
                .write(zipPath));
    QFile zip(zipPath);
    QVERIFY(zip.open(QIODevice::ReadOnly));
    m_zip = zip.readAll();

    g_global.ResetRunEnd();
    g_global.m_appName = "QuorvexClient.exe";
    g_global.m_appPath = m_install->path() + "/";
    g_global.m_appConfigFile = "config/client.json";
    g_global.m_currentVersion = "2.0.3";
    g_global.m_updateCheckUrl = QString::fromStdString(m_service->checkUrl());
    g_global.m_getPackUrl = QString::fromStdString(m_service->packageUrl());
    g_global.m_language = "en";
    g_global.m_args = QStringList{"-immediately"};
    g_global.m_remide = 0;
}

void TestPackageDownload::cleanup()
{
    // A copy still held would keep the worker thread from ending.
    m_platform->releaseCopies();
    m_progress.reset();
    m_errors.reset();
    m_run.reset();
    m_service.reset();
    QDir::setCurrent(m_previousDir);
    m_platform.reset();
    m_install.reset();
    m_home.reset();
}

void TestPackageDownload::offer(const QByteArray& package, int updateType,
                                const std::function<void(CheckAnswer&)>& forge)
{
    CheckAnswer answer;
    answer.forPackage(package);
    answer.latestVersionUrl = "https://cdn.invalid/r/" + kPackageName + ".zip";
    answer.notes = QStringLiteral("中文&Fixes");
    answer.updateType = updateType;
    if (forge)
        forge(answer);
    m_service->setCheckResponse(200, answer.toStdString());
}

void TestPackageDownload::start()
{
    m_run = std::make_unique<ClientRun>();
    m_progress = std::make_unique<QSignalSpy>(m_run->client(), &HttpDownLoadFile::UpdateBar);
    m_errors = std::make_unique<QSignalSpy>(m_run->progressDialog(), &DwonDialog::ErrSignal);
}

void TestPackageDownload::zipPackageInstalled_data()
{
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<bool>("redirected");
    QTest::newRow("with length") << true << false;
    QTest::newRow("without length") << false << false;
    QTest::newRow("through a redirect") << true << true;
}

void TestPackageDownload::zipPackageInstalled()
{
    QFETCH(bool, contentLength);
    QFETCH(bool, redirected);
    FakeUpdateService mirror;
    QVERIFY(mirror.start());
    FakeUpdateService::Delivery delivery;
    delivery.contentLength = contentLength;
    // Progress is reported at most every 100 ms; a pause makes the transfer report on its way.
    delivery.stallAfter = 1000;
    if (redirected) {
        mirror.addPackage("77", m_zip.toStdString(), delivery);
        m_service->addRedirect("77", 302, mirror.packageUrl() + "77");
    } else {
        m_service->addPackage("77", m_zip.toStdString(), delivery);
    }
    offer(m_zip);

    start();
    FakeUpdateService& server = redirected ? mirror : *m_service;
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), size_t(redirected ? 1 : 2), 10000);
    QTest::qWait(500);
    server.releaseStalls();

    QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, 15000);
    QCOMPARE(m_platform->starts().first().arguments, QStringList{"-autoupdate"});
    QVERIFY(m_errors->isEmpty());
    // On its way the reply reports its own total: the length, or -1 without one; the report
    // at the end gives the size received.
    const qint64 reportedTotal = contentLength ? m_zip.size() : -1;
    // Through a redirect the reply reports the redirect's own length for a while.
    for (int i = 0; !redirected && i + 1 < m_progress->size(); ++i)
        QCOMPARE(m_progress->at(i).at(1).toLongLong(), reportedTotal);
    QCOMPARE(m_progress->last().at(1).toLongLong(), qint64(m_zip.size()));
    QCOMPARE(m_progress->last().at(0).toLongLong(), qint64(m_zip.size()));
    QCOMPARE(m_home->readFile("AppData/Roaming/quorvexAssistant/update.log"), QByteArray("Fixes"));
}

// The copy over the client waits until the user has tried to cancel, with the close button and
// with a confirmation given at the instant the installation began.
void TestPackageDownload::cancelWhileInstalling()
{
    m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::CopyWhenReleased);
    m_service->addPackage("77", m_zip.toStdString());
    offer(m_zip);
    start();
    QTRY_COMPARE_WITH_TIMEOUT(m_platform->copies().size(), 1, 15000);
    DwonDialog* dialog = m_run->progressDialog();
    auto* cancel = dialog->findChild<QPushButton*>("cancleBtn");
    QTRY_VERIFY(!cancel->isEnabled());
    QCOMPARE(dialog->findChild<QLabel*>("labInstall")->text(),
             QStringLiteral("Installing, please wait..."));

    dialog->close();
    QVERIFY(!dialog->findChild<QDockWidget*>("dockWidget")->isVisible());
    dialog->findChild<QPushButton*>("sbtn")->click();
    QVERIFY(!g_global.IsRunEnded());
    m_platform->releaseCopies();

    QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, 15000);
    QVERIFY(g_global.IsRunEnded());
    QCOMPARE(m_platform->starts().first().arguments, QStringList{"-autoupdate"});
    QCOMPARE(m_home->readFile("AppData/Roaming/quorvexAssistant/update.log"), QByteArray("Fixes"));
}

void TestPackageDownload::installerStarted()
{
    const QByteArray installer("#!/bin/sh\nexit 0\n");
    m_service->addPackage("77", installer.toStdString());
    offer(installer, 0);
    g_global.m_args = QStringList{"-immediately", "x"};

    start();
    QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, 15000);
    const QString package = packDir() + "/" + kPackageName + ".zip";
    QCOMPARE(m_platform->starts().first().program, package);
    QCOMPARE(m_platform->starts().first().arguments, QStringList{"x"});
    QCOMPARE(m_platform->executables(), QStringList{package});
}

void TestPackageDownload::unknownTypeInstallsNothing()
{
    m_service->addPackage("77", m_zip.toStdString());
    offer(m_zip, 2);
    start();
    QTRY_COMPARE_WITH_TIMEOUT(m_progress->size() > 0 &&
                                  m_progress->last().at(0).toLongLong() == m_zip.size(),
                              true, 15000);
    QTest::qWait(1000);
    QCOMPARE(clientStarts(), 0);
    QVERIFY(m_errors->isEmpty());
    QVERIFY(!g_global.IsRunEnded());
    QVERIFY(m_run->progressDialog()->isVisible());
}

// Neither a zip package nor an installer is used unless every digest the answer names matches.
void TestPackageDownload::corruptedPackage_data()
{
    QTest::addColumn<int>("updateType");
    QTest::addColumn<bool>("md5InUpperCase");
    QTest::newRow("md5 in upper case") << 1 << true;
    QTest::newRow("installer of another sha256") << 0 << false;
}

void TestPackageDownload::corruptedPackage()
{
    QFETCH(int, updateType);
    QFETCH(bool, md5InUpperCase);
    m_service->addPackage("77", m_zip.toStdString());
    offer(m_zip, updateType, [md5InUpperCase](CheckAnswer& answer) {
        if (md5InUpperCase)
            answer.md5 = answer.md5.toUpper();
        else
            answer.sha256 = QCryptographicHash::hash("other", QCryptographicHash::Sha256).toHex();
    });
    LogCapture log;
    start();
    QTRY_COMPARE_WITH_TIMEOUT(m_errors->size(), 1, 15000);
    QCOMPARE(m_errors->first().first().toString(),
             QStringLiteral("File conrrupted, update failed."));
    QVERIFY(log.contains("DEBUG \"" + packagePath() + "\" md5 check filed"));
    QCOMPARE(clientStarts(), 0);
    QVERIFY(m_platform->copies().isEmpty());
}

void TestPackageDownload::failures_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("immediateLog");
    QTest::newRow("stall") << "stall"
                           << "";
    QTest::newRow("dropped connection") << "drop"
                                        << "DEBUG Download Network Error:";
    QTest::newRow("untrusted certificate") << "tls"
                                           << "DEBUG Download Network Error:";
}

void TestPackageDownload::failures()
{
    QFETCH(QString, failure);
    QFETCH(QString, immediateLog);
    FakeUpdateService::Delivery delivery;
    if (failure == "stall")
        delivery.stallAfter = 1000;
    if (failure == "drop")
        delivery.dropAfter = 1000;
    FakeUpdateService secure;
    if (failure == "tls") {
        FakeUpdateService::Options options;
        options.tls = true;
        QVERIFY(secure.start(options));
        secure.addPackage("77", m_zip.toStdString());
        g_global.m_getPackUrl = QString::fromStdString(secure.packageUrl());
    }
    m_service->addPackage("77", m_zip.toStdString(), delivery);
    offer(m_zip);
    LogCapture log;
    QElapsedTimer sinceStart;
    sinceStart.start();

    start();
    // A burst, then nothing: the bar shows the share that arrived long before the time-out.
    if (failure == "stall") {
        QTRY_VERIFY_WITH_TIMEOUT(!m_progress->isEmpty() && m_progress->last().at(0).toLongLong() ==
                                                               qint64(*delivery.stallAfter),
                                 3000);
        QVERIFY(m_errors->isEmpty());
    }
    if (!immediateLog.isEmpty()) {
        QTRY_VERIFY2_WITH_TIMEOUT(log.containsLineStartingWith(immediateLog),
                                  qPrintable(log.lines().join('\n')), 10000);
        QVERIFY(m_errors->isEmpty());
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_errors->size(), 1, 15000);
    QCOMPARE(m_errors->first().first().toString(), kNetworkText);
    QVERIFY(log.contains("DEBUG NetworkReply Get TimerOut"));
    QVERIFY(sinceStart.elapsed() > shortWaits().downloadStallMs);
    QCOMPARE(clientStarts(), 0);
    QCOMPARE(m_progress->last().at(0).toLongLong(), QFileInfo(packagePath()).size());
    m_service->releaseStalls();
}

// The download folder fills up: the package is not installed and the user may retry.
void TestPackageDownload::diskFullWhileDownloading()
{
#ifdef Q_OS_LINUX
    if (::geteuid() != 0)
        QSKIP("mounting a small file system needs root");
    QDir().mkpath(packDir());
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=128k", "tmpfs", packDir()}) != 0)
        QSKIP("this system does not let the test mount a file system");
    const auto unmount = qScopeGuard([this] { QProcess::execute("umount", {"-l", packDir()}); });
    m_service->addPackage("77", m_zip.toStdString());
    offer(m_zip);
    LogCapture log;

    start();
    QTRY_COMPARE_WITH_TIMEOUT(m_errors->size(), 1, 15000);
    QCOMPARE(m_errors->first().first().toString(), QString("File conrrupted, update failed."));
    QVERIFY(log.containsLineStartingWith("DEBUG \"" + packagePath() + "\"  write failed:"));
    QVERIFY(m_platform->copies().isEmpty());
    QCOMPARE(clientStarts(), 0);
#else
    QSKIP("mounts a small Linux file system");
#endif
}

void TestPackageDownload::retryStartsAfresh()
{
    FakeUpdateService::Delivery drop;
    drop.dropAfter = 5000;
    m_service->addPackage("77", m_zip.toStdString(), drop);
    offer(m_zip);
    start();
    QTRY_COMPARE_WITH_TIMEOUT(m_errors->size(), 1, 15000);

    QFile leftover(packDir() + "/old-package.zip");
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    QDir().mkpath(packDir() + "/old-folder/sub");
    m_service->addPackage("77", m_zip.toStdString());
    emit m_run->progressDialog()->GetPackAgain();

    QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, 15000);
    QVERIFY(!QFile::exists(packDir() + "/old-package.zip"));
    QVERIFY(!QFile::exists(packDir() + "/old-folder"));
    QFile package(packagePath());
    QVERIFY(package.open(QIODevice::ReadOnly));
    QCOMPARE(package.readAll(), m_zip);
}

void TestPackageDownload::redirectToHttpRefused()
{
    QTemporaryDir certificates;
    QVERIFY(makeTrustedCertificate(certificates.path()));
    FakeUpdateService secure;
    FakeUpdateService::Options options;
    options.tls = true;
    options.certificateFile = (certificates.path() + "/cert.pem").toStdString();
    options.privateKeyFile = (certificates.path() + "/key.pem").toStdString();
    QVERIFY(secure.start(options));
    m_service->addPackage("77", m_zip.toStdString());
    secure.addRedirect("77", 302, m_service->packageUrl() + "77");
    g_global.m_getPackUrl = QString::fromStdString(secure.packageUrl());
    offer(m_zip);
    LogCapture log;

    start();
    QTRY_COMPARE_WITH_TIMEOUT(m_errors->size(), 1, 15000);
    QVERIFY(log.contains("DEBUG Download Network Error: QNetworkReply::InsecureRedirectError"));
    QCOMPARE(secure.requestCount(), size_t(1));
    QCOMPARE(clientStarts(), 0);
}

QTEST_MAIN(TestPackageDownload)
#include "tst_packagedownload.moc"
