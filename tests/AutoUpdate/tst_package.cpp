#include "checkanswer.h"
#include "clientbackup.h"
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
#include <QDockWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

using PackageMaker = std::function<ZipBuilder()>;
Q_DECLARE_METATYPE(PackageMaker)

namespace {
const QString kTop = QStringLiteral("QuorvexClient_2.1.0");
const QString kCorrupted = QStringLiteral("File conrrupted, update failed.");

// A release of the client: it replaces its configuration and a file, and adds an executable.
ZipBuilder goodPackage(const QString& version = "2.1.0")
{
    return ZipBuilder()
        .directory(kTop + "/")
        .directory(kTop + "/config/")
        .file(kTop + "/config/client.json", ClientFiles::config(version))
        .directory(kTop + "/bin/")
        .file(kTop + "/bin/app.dat", "new app")
        .file(kTop + "/bin/helper", "#!/bin/sh\n", 0100755);
}

// Large enough to fill a small disk, and to arrive in several parts.
ZipBuilder largePackage(const QString& version = "2.1.0")
{
    return goodPackage(version).file(kTop + "/large.dat", QByteArray(400 * 1024, 'z'));
}

// A good package with one more entry whose header lies in one field.
template <typename Field>
PackageMaker lying(Field ZipBuilder::Entry::*field, qint64 value, bool deflated = false)
{
    return [=] {
        ZipBuilder package = goodPackage();
        deflated ? package.deflated(kTop + "/x", QByteArray(4096, 'a'))
                 : package.file(kTop + "/x", "extra data");
        package.last().*field = static_cast<Field>(value);
        return package;
    };
}

PackageMaker adding(const QString& name, const QByteArray& content = "x")
{
    return [=] { return goodPackage().file(name, content); };
}
} // namespace

// A package downloaded from a local service by the network client on a worker thread, the dialogs
// on this one and "-immediately" skipping the prompt, then unpacked beside itself and copied over
// the client by a fake that really copies, so the version read back decides as on a user's
// machine.
class TestPackage : public QObject
{
    Q_OBJECT

    std::optional<TestHome> m_home;
    std::optional<FakePlatform> m_platform;
    std::optional<FakeUpdateService> m_service;
    std::optional<ClientRun> m_run;
    QString packDir() const { return m_home->updaterDir() + "/QuorvexClient"; }
    QString packagePath() const { return packDir() + "/" + kTop + ".zip"; }
    QString client() const { return m_home->filePath("client"); }
    QStringList clientStarts() const { return m_platform->calls("start"); }

    int install()
    {
        QString package = packagePath();
        return g_global.DecompressionReplac(package);
    }

    // Serves the package, announced by answer, to a run of the network client started here.
    void download(const QByteArray& package, const CheckAnswer& answer,
                  const FakeUpdateService::Delivery& delivery = {})
    {
        m_service->addPackage("77", package.toStdString(), delivery);
        m_service->setCheckResponse(200, answer.toStdString());
        m_run.emplace();
    }

    QByteArray packageBytes(const ZipBuilder& package)
    {
        const QTemporaryDir dir;
        package.write(dir.filePath("package.zip"));
        return ClientFiles::read(dir.filePath("package.zip"));
    }

private slots:
    void init()
    {
        m_home.emplace();
        m_platform.emplace();
        m_service.emplace();
        QVERIFY(m_service->start());
        QDir().mkpath(packDir());
        QDir().mkpath(m_home->clientDataDir());
        ClientFiles::write(client() + "/config/client.json", ClientFiles::config("2.0.3"));
        ClientFiles::write(client() + "/bin/app.dat", "old app");
        ClientFiles::write(client() + "/AutoUpdate/kept.txt", "not in the package");
        QDir::setCurrent(client() + "/AutoUpdate");
        g_global.ResetRunEnd();
        g_global.m_appName = "QuorvexClient.exe";
        g_global.m_appPath = client() + "/";
        g_global.m_appConfigFile = "config/client.json";
        g_global.m_currentVersion = "2.0.3";
        g_global.m_latestVersion = "2.1.0";
        g_global.m_latestVersionInfo = QStringLiteral("修复了若干问题");
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
        m_run.reset();
        m_service.reset();
        QDir::setCurrent(QDir::tempPath());
        m_platform.reset();
        m_home.reset();
    }

    // Thousands of entries, some deflated, one named like a Windows shortcut, an executable.
    void richPackageInstalls()
    {
        ZipBuilder package =
            goodPackage().file(kTop + "/Quorvex.lnk", "shortcut").directory(kTop + "/data/");
        for (int i = 0; i < 2000; ++i) {
            const QString name = kTop + QString("/data/%1.txt").arg(i);
            const QByteArray content = QByteArray::number(i).repeated(50);
            i % 10 == 0 ? package.deflated(name, content) : package.file(name, content);
        }
        QVERIFY(package.write(packagePath()));
        LogCapture log;

        QVERIFY2(install() == 0, qPrintable(log.lines().join('\n')));
        QCOMPARE(ClientFiles::read(client() + "/bin/app.dat"), QByteArray("new app"));
        QCOMPARE(ClientFiles::read(client() + "/Quorvex.lnk"), QByteArray("shortcut"));
        QCOMPARE(ClientFiles::read(client() + "/data/1230.txt"), QByteArray("1230").repeated(50));
        QCOMPARE(ClientFiles::read("kept.txt"), QByteArray("not in the package"));
        QVERIFY(QFileInfo(client() + "/bin/helper").permissions().testFlag(QFile::ExeOwner));
        QVERIFY(!QFileInfo(client() + "/bin/app.dat").permissions().testFlag(QFile::ExeOwner));
        QCOMPARE(ClientFiles::read(m_home->clientDataDir() + "/isShowUpdataInfo.txt"),
                 QByteArray("1"));
        QVERIFY(ClientFiles::tree(ClientBackup::backupFolder()).isEmpty());
    }

    // Whatever fails, the client folder is left holding exactly what it held, nothing announces
    // the new version, and no journal or backup stays behind.
    void installFailures_data()
    {
        QTest::addColumn<QString>("logPrefix");
        QTest::newRow("full disk while unpacking") << "DEBUG unzip  \"";
        QTest::newRow("full disk while saving the client") << "DEBUG client file not saved:";
        QTest::newRow("copy names another version") << "DEBUG files replace error";
    }

    void installFailures()
    {
        QFETCH(QString, logPrefix);
        const QString scenario = QTest::currentDataTag();
        const bool copied = scenario.contains("version");
        const bool unpacking = scenario.contains("unpacking");
        if (!copied &&
            !m_home->mountSmallDisk(unpacking ? packDir() : ClientBackup::backupFolder(), 600))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        QVERIFY(largePackage(copied ? "2.0.9" : "2.1.0").write(packagePath()));
        ClientFiles::write(client() + "/bin/app.dat", QByteArray(800 * 1024, 'o'));
        const QMap<QString, QByteArray> before = ClientFiles::tree(client());
        LogCapture log;

        QCOMPARE(install(), -1);
        QVERIFY2(log.has(logPrefix), qPrintable(log.lines().join('\n')));
        QCOMPARE(ClientFiles::tree(client()), before);
        // Put back from the backup by the same copy as the install's.
        const QStringList restore{"copy " + ClientBackup::backupFolder() + ' ' + client()};
        QCOMPARE(m_platform->calls("copy").mid(1), copied ? restore : QStringList());
        QVERIFY(!QFileInfo::exists(m_home->clientDataDir() + "/isShowUpdataInfo.txt"));
        QVERIFY(!QFileInfo::exists(ClientBackup::journalPath()));
        QVERIFY(ClientFiles::tree(ClientBackup::backupFolder()).isEmpty());
    }

    // Packages refused whole before anything reaches the client, and the reason logged.
    void refused_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<PackageMaker>("make");
        using E = ZipBuilder::Entry;
        const auto row = [](const char* name, const char* reason, const PackageMaker& make) {
            QTest::newRow(name) << QString(reason) << make;
        };
        row("empty name", "has no name", adding(""));
        row("absolute", "absolute", adding("/tmp/evil.txt"));
        row("drive letter", "drive", adding("C:/evil.txt"));
        row("backslash parent", "climbs", adding(kTop + "\\..\\..\\x"));
        row("through a link on disk", "link", adding(kTop + "/linked/x"));
        row("outside the top folder", "top folder", adding("Other/x"));
        row("duplicate", "exists", adding(kTop + "/bin/app.dat"));
        row("duplicate once cleaned", "repeats", adding(kTop + "/bin/./app.dat"));
        row("method 14", "method 14", lying(&E::method, 14));
        row("encrypted", "encrypted", lying(&E::flags, 0x0801));
        row("CRC mismatch", "CRC", lying(&E::crc, 1));
        row("offset of another entry", "cannot be opened", lying(&E::offset, 0));
        row("corrupt deflate stream", "cannot be unpacked", lying(&E::method, 8));
        row("inflates past its size", "declared size", lying(&E::size, 1024, true));
        row("declares 2 GiB", "100 times", lying(&E::size, 0x7fffffff));
        row("more than the free space", "bytes free",
            adding(kTop + "/big", QByteArray(65536, 'x')));
        row("no files", "holds no files", [] { return ZipBuilder().directory(kTop + "/"); });
    }

    void refused()
    {
        QFETCH(QString, reason);
        QFETCH(PackageMaker, make);
        // A link out of the extraction folder waits in every case, so a write through it shows.
        QTemporaryDir outside;
        QDir().mkpath(packDir() + "/" + kTop);
        QVERIFY(QFile::link(outside.path(), packDir() + "/" + kTop + "/linked"));
        m_platform->setFreeSpace(m_platform->workingVolume(), 65536);
        QVERIFY(make().write(packagePath()));
        // The files beside the package; folders left empty do no harm.
        const auto files = [this] {
            return ClientFiles::tree(packDir()).keys().filter(QRegularExpression("[^/]$"));
        };
        const QStringList unpacked = files();
        const QMap<QString, QByteArray> before = ClientFiles::tree(client());
        LogCapture log;

        QCOMPARE(install(), -1);
        QCOMPARE(ClientFiles::tree(client()), before);
        QCOMPARE(files(), unpacked);
        QVERIFY(QDir(outside.path()).isEmpty());
        QVERIFY(m_platform->calls("copy").isEmpty());
        const QStringList refusals =
            log.lines().filter(QRegularExpression("^DEBUG package refused"));
        QCOMPARE(refusals.size(), 1);
        QVERIFY2(refusals.first().contains(reason), qPrintable(refusals.first()));
    }

    // The package is neither used nor kept, and the user may retry.
    void downloadFailures_data()
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

    void downloadFailures()
    {
        QFETCH(QString, error);
        QFETCH(QString, logPrefix);
        const QString scenario = QTest::currentDataTag();
        const QByteArray package = packageBytes(largePackage());
        CheckAnswer answer;
        answer.forPackage(package);
        FakeUpdateService::Delivery delivery;
        if (scenario == "stall")
            delivery.stallAfter = 100000;
        if (scenario.startsWith("md5"))
            answer.md5 = answer.md5.toUpper();
        if (scenario.startsWith("installer")) {
            answer.updateType = 0;
            answer.sha256 = QCryptographicHash::hash("x", QCryptographicHash::Sha256).toHex();
        }
        if (scenario == "disk full" && !m_home->mountSmallDisk(packDir(), 128))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        LogCapture log;
        download(package, answer, delivery);
        QSignalSpy progress(m_run->client(), &HttpDownLoadFile::UpdateBar);
        QSignalSpy errors(m_run->progressDialog(), &DwonDialog::ErrSignal);

        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 15000);
        QCOMPARE(errors.first().first().toString(), error);
        QVERIFY2(log.lines().filter(logPrefix).size() == 1, qPrintable(log.lines().join('\n')));
        QVERIFY(clientStarts().isEmpty());
        QVERIFY(m_platform->calls("copy").isEmpty());
        if (scenario == "stall")
            QCOMPARE(progress.last().at(0).toLongLong(), 100000);
    }

    // Before any download: a failing service hands over to the client at once.
    void failingService()
    {
        m_service->setCheckResponse(500, CheckAnswer().toStdString());
        m_run.emplace();
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts().size(), 1, 10000);
        QCOMPARE(m_service->requestCount(), size_t(1));
    }

    // A retry after a dropped download starts afresh. Once the copy over the client has begun,
    // neither the close button nor a confirmed cancel stops it: the client is started when it
    // is done.
    void retryThenCancelWhileInstalling()
    {
        const QByteArray package = packageBytes(largePackage());
        CheckAnswer answer;
        answer.forPackage(package).notes = QStringLiteral("中文&Fixes");
        FakeUpdateService::Delivery drop;
        drop.dropAfter = 5000;
        download(package, answer, drop);
        DwonDialog* dialog = m_run->progressDialog();
        QSignalSpy errors(dialog, &DwonDialog::ErrSignal);
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 15000);
        ClientFiles::write(packDir() + "/old-folder/old-package.zip", "old");
        m_service->addPackage("77", package.toStdString());
        m_platform->holdNextCopy();
        emit dialog->GetPackAgain();
        QTRY_COMPARE_WITH_TIMEOUT(m_platform->calls("copy").size(), 1, 15000);
        QVERIFY(!QFile::exists(packDir() + "/old-folder"));
        QCOMPARE(ClientFiles::read(packagePath()), package);
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

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
