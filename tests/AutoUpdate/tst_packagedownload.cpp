#include "checkanswer.h"
#include "clientfiles.h"
#include "clientrun.h"
#include "dwondialog.h"
#include "fakeplatform.h"
#include "fakeupdateservice.h"
#include "global.h"
#include "httpdownloadfile.h"
#include "logcapture.h"
#include "testhome.h"
#include "zipbuilder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDockWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {
const QString kCorrupted = QStringLiteral("File conrrupted, update failed.");
} // namespace

// The download road in the program's own threads: the network client on a worker thread, the
// dialogs on this one, "-immediately" skipping the prompt, a local service serving the package.
class TestPackageDownload : public QObject
{
    Q_OBJECT

    std::optional<TestHome> m_home;
    std::optional<QTemporaryDir> m_install;
    std::optional<FakePlatform> m_platform;
    std::optional<FakeUpdateService> m_service;
    std::optional<ClientRun> m_run;
    std::optional<QSignalSpy> m_progress;
    std::optional<QSignalSpy> m_errors;
    QByteArray m_zip;
    CheckAnswer m_answer;
    QString packDir() const { return m_home->updaterDir() + "/QuorvexClient"; }
    QStringList clientStarts() const { return m_platform->calls("start"); }

    void start(const FakeUpdateService::Delivery& delivery = {})
    {
        m_service->addPackage("77", m_zip.toStdString(), delivery);
        m_service->setCheckResponse(200, m_answer.toStdString());
        m_run.emplace();
        m_progress.emplace(m_run->client(), &HttpDownLoadFile::UpdateBar);
        m_errors.emplace(m_run->progressDialog(), &DwonDialog::ErrSignal);
    }

private slots:
    void init()
    {
        m_home.emplace();
        m_install.emplace();
        m_platform.emplace();
        m_service.emplace();
        QVERIFY(m_service->start());
        QDir().mkpath(m_home->clientDataDir());
        QDir().mkpath(m_install->filePath("AutoUpdate"));
        ClientFiles::write(m_install->filePath("config/client.json"), ClientFiles::config("2.0.3"));
        QDir::setCurrent(m_install->filePath("AutoUpdate"));
        const QString top = "QuorvexClient_2.1.0/";
        const QString zip = m_install->filePath("package.zip");
        QVERIFY(ZipBuilder()
                    .directory(top)
                    .directory(top + "config/")
                    .file(top + "config/client.json", ClientFiles::config("2.1.0"))
                    .file(top + "app.dat", QByteArray(300000, 'q'))
                    .write(zip));
        m_zip = ClientFiles::read(zip);
        m_answer = CheckAnswer();
        m_answer.forPackage(m_zip).biz["latestVersionInfo"] = QStringLiteral("中文&Fixes");

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

    void cleanup()
    {
        // A copy still held would keep the worker thread from ending.
        m_platform->releaseCopies();
        m_service->releaseStalls();
        m_errors.reset();
        m_progress.reset();
        m_run.reset();
        m_service.reset();
        QDir::setCurrent(QDir::tempPath());
        m_platform.reset();
        m_install.reset();
        m_home.reset();
    }

    // The package is neither used nor kept, and the user may retry.
    void failures_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("logPrefix");
        QTest::newRow("md5 in upper case") << kCorrupted << "md5 check filed";
        QTest::newRow("installer of another sha256") << kCorrupted << "md5 check filed";
        QTest::newRow("disk full") << kCorrupted << "write failed:";
        // A burst, then nothing: the bar shows the share that arrived.
        QTest::newRow("stall") << "Installation failed. Network exception, please check."
                               << "TimerOut";
    }

    void failures()
    {
        QFETCH(QString, error);
        QFETCH(QString, logPrefix);
        const QString scenario = QTest::currentDataTag();
        FakeUpdateService::Delivery delivery;
        if (scenario == "stall")
            delivery.stallAfter = 100000;
        if (scenario.startsWith("md5"))
            m_answer.biz["md5"] = m_answer.biz["md5"].toString().toUpper();
        if (scenario.startsWith("installer")) {
            m_answer.biz["updateType"] = 0;
            m_answer.biz["sha256"] =
                QString(QCryptographicHash::hash("x", QCryptographicHash::Sha256).toHex());
        }
        if (scenario == "disk full" && !m_home->mountSmallDisk(packDir(), 128, false))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        LogCapture log;
        start(delivery);

        QTRY_COMPARE_WITH_TIMEOUT(m_errors->size(), 1, 15000);
        QCOMPARE(m_errors->first().first().toString(), error);
        QVERIFY2(log.lines().filter(logPrefix).size() == 1, qPrintable(log.lines().join('\n')));
        QVERIFY(clientStarts().isEmpty());
        QVERIFY(m_platform->calls("copy").isEmpty());
        if (scenario == "stall")
            QCOMPARE(m_progress->last().at(0).toLongLong(), 100000);
    }

    // Before any download: a failing service hands over to the client at once.
    void failingService()
    {
        m_service->setCheckResponse(500, m_answer.toStdString());
        m_run.emplace();
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts().size(), 1, 10000);
        QCOMPARE(m_service->requestCount(), size_t(1));
    }

    // A retry after a dropped download starts afresh. Once the copy over the client has begun,
    // neither the close button nor a confirmed cancel stops it: the client is started when it
    // is done.
    void retryThenCancelWhileInstalling()
    {
        FakeUpdateService::Delivery drop;
        drop.dropAfter = 5000;
        start(drop);
        QTRY_COMPARE_WITH_TIMEOUT(m_errors->size(), 1, 15000);
        ClientFiles::write(packDir() + "/old-folder/old-package.zip", "old");
        m_service->addPackage("77", m_zip.toStdString());
        m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::CopyWhenReleased);
        emit m_run->progressDialog()->GetPackAgain();
        QTRY_COMPARE_WITH_TIMEOUT(m_platform->calls("copy").size(), 1, 15000);
        QVERIFY(!QFile::exists(packDir() + "/old-folder"));
        QCOMPARE(ClientFiles::read(packDir() + "/QuorvexClient_2.1.0.zip"), m_zip);
        DwonDialog* dialog = m_run->progressDialog();
        QTRY_VERIFY(!dialog->findChild<QPushButton*>("cancleBtn")->isEnabled());

        dialog->close();
        QVERIFY(!dialog->findChild<QDockWidget*>("dockWidget")->isVisible());
        dialog->findChild<QPushButton*>("sbtn")->click();
        QVERIFY(!g_global.IsRunEnded());
        m_platform->releaseCopies();

        QTRY_COMPARE_WITH_TIMEOUT(clientStarts().size(), 1, 15000);
        QVERIFY(clientStarts().first().endsWith(" -autoupdate"));
        QVERIFY(g_global.IsRunEnded());
        QCOMPARE(ClientFiles::read(m_home->clientDataDir() + "/update.log"), QByteArray("Fixes"));
    }
};

QTEST_MAIN(TestPackageDownload)
#include "tst_packagedownload.moc"
