#include "clientbackup.h"
#include "clientfiles.h"
#include "fakeplatform.h"
#include "global.h"
#include "logcapture.h"
#include "testhome.h"
#include "zipbuilder.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

using PackageMaker = std::function<ZipBuilder()>;
Q_DECLARE_METATYPE(PackageMaker)

namespace {
const QString kTop = QStringLiteral("QuorvexClient_2.1.0");

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

// Unpacking a zip package beside itself and copying it over the client, with the copy done by a
// fake that really copies, so the version read back decides as it does on a user's machine.
class TestPackageInstall : public QObject
{
    Q_OBJECT

    std::optional<TestHome> m_home;
    std::optional<FakePlatform> m_platform;
    Global m_global;
    QString packDir() const { return m_home->updaterDir() + "/QuorvexClient"; }
    QString packagePath() const { return packDir() + "/" + kTop + ".zip"; }
    QString client() const { return m_home->filePath("client"); }

    int install()
    {
        QString package = packagePath();
        return m_global.DecompressionReplac(package);
    }

private slots:
    void init()
    {
        m_home.emplace();
        m_platform.emplace();
        QDir().mkpath(packDir());
        QDir().mkpath(m_home->clientDataDir());
        ClientFiles::write(client() + "/config/client.json", ClientFiles::config("2.0.3"));
        ClientFiles::write(client() + "/bin/app.dat", "old app");
        ClientFiles::write(client() + "/AutoUpdate/kept.txt", "not in the package");
        QDir::setCurrent(client() + "/AutoUpdate");
        m_global.m_appPath = client() + "/";
        m_global.m_appConfigFile = "config/client.json";
        m_global.m_latestVersion = "2.1.0";
        m_global.m_latestVersionInfo = QStringLiteral("修复了若干问题");
    }

    void cleanup()
    {
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
        // The notes and the marker for the client, and the version recorded.
        const QString data = m_home->clientDataDir();
        QCOMPARE(ClientFiles::read(data + "/update.log"),
                 QStringLiteral("修复了若干问题").toUtf8());
        QCOMPARE(ClientFiles::read(data + "/isShowUpdataInfo.txt"), QByteArray("1"));
        QVERIFY(ClientFiles::read(m_home->updaterDir() + "/updateconfig.json").contains("2.1.0"));
        QVERIFY(ClientFiles::tree(ClientBackup::backupFolder()).isEmpty());
    }

    // Whatever fails, the client folder is left holding exactly what it held, nothing announces
    // the new version, and no journal or backup stays behind.
    void failures_data()
    {
        QTest::addColumn<QString>("logPrefix");
        QTest::newRow("full disk while unpacking") << "DEBUG unzip  \"";
        QTest::newRow("full disk while saving the client") << "DEBUG client file not saved:";
        QTest::newRow("copy fails halfway") << "DEBUG copy file error: exit code 1";
        QTest::newRow("copy names another version") << "DEBUG files replace error";
    }

    void failures()
    {
        QFETCH(QString, logPrefix);
        const QString scenario = QTest::currentDataTag();
        const bool copied = !scenario.startsWith("full disk");
        const QByteArray large(400 * 1024, 'z');
        ZipBuilder package = goodPackage(scenario.contains("version") ? "2.0.9" : "2.1.0");
        QVERIFY(package.file(kTop + "/large.dat", large).write(packagePath()));
        ClientFiles::write(client() + "/bin/app.dat", large + large);
        const bool unpacking = scenario.contains("unpacking");
        if (!copied && !m_home->mountSmallDisk(unpacking ? packDir() : ClientBackup::backupFolder(),
                                               600, false))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        if (scenario.contains("halfway"))
            m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::FailHalfway);
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
};

QTEST_GUILESS_MAIN(TestPackageInstall)
#include "tst_packageinstall.moc"
