#include "fakeplatform.h"
#include "global.h"
#include "logcapture.h"
#include "testhome.h"
#include "zipbuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kTop = QStringLiteral("QuorvexClient_2.1.0");

QByteArray clientConfig(const QString& version)
{
    return QJsonDocument(QJsonObject{{"client", QJsonObject{{"version", version}}}}).toJson();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next().mid(folder.size() + 1));
    files.sort();
    return files;
}

// A release of the client as the service packs it.
ZipBuilder goodPackage(const QString& version = QStringLiteral("2.1.0"))
{
    ZipBuilder zip;
    zip.directory(kTop + "/")
        .directory(kTop + "/config/")
        .file(kTop + "/config/client.json", clientConfig(version))
        .directory(kTop + "/bin/")
        .file(kTop + "/bin/app.dat", "new app");
    return zip;
}
} // namespace

// Unpacking a zip package beside itself and copying it over the client, with the copy done by a
// fake that really copies, so the version read back decides as it does on a user's machine.
class TestPackageInstall : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void installs();
    void failures_data();
    void failures();
    void overwritesEarlierExtraction();
    void stateWriteFailureStillSucceeds();
    void hostileEntriesRefused_data();
    void hostileEntriesRefused();

private:
    QString packDir() const { return m_home->updaterDir() + "/QuorvexClient"; }
    QString packagePath() const { return packDir() + "/" + kTop + ".zip"; }
    QString installDir() const { return m_install->path(); }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<QTemporaryDir> m_install;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<Global> m_global;
    QString m_previousDir;
};

void TestPackageInstall::init()
{
    m_home = std::make_unique<TestHome>();
    m_install = std::make_unique<QTemporaryDir>();
    m_platform = std::make_unique<FakePlatform>();
    m_global = std::make_unique<Global>();
    QDir().mkpath(packDir());
    QDir().mkpath(m_home->clientDataDir());
    QDir().mkpath(installDir() + "/AutoUpdate");
    QDir().mkpath(installDir() + "/config");
    QFile config(installDir() + "/config/client.json");
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(clientConfig("2.0.3"));
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(installDir() + "/AutoUpdate");

    m_global->m_appPath = installDir() + "/";
    m_global->m_appConfigFile = "config/client.json";
    m_global->m_currentVersion = "2.0.3";
    m_global->m_latestVersion = "2.1.0";
    m_global->m_latestVersionInfo = QStringLiteral("修复了若干问题");
}

void TestPackageInstall::cleanup()
{
    QDir::setCurrent(m_previousDir);
    m_global.reset();
    m_platform.reset();
    m_install.reset();
    m_home.reset();
}

void TestPackageInstall::installs()
{
    QVERIFY(goodPackage().write(packagePath()));
    QString package = packagePath();
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(package), 0);

    QCOMPARE(readAll(installDir() + "/bin/app.dat"), QByteArray("new app"));
    QCOMPARE(m_global->m_currentVersion, QStringLiteral("2.1.0"));
    QCOMPARE(readAll(m_home->clientDataDir() + "/update.log"),
             m_global->m_latestVersionInfo.toUtf8());
    QCOMPARE(readAll(m_home->clientDataDir() + "/isShowUpdataInfo.txt"), QByteArray("1"));
    const QJsonObject state =
        QJsonDocument::fromJson(m_home->readFile("AppData/Roaming/AutoUpdate/updateconfig.json"))
            .object();
    QCOMPARE(state.value("currentVersion").toString(), QStringLiteral("2.1.0"));

    QCOMPARE(m_platform->copies().size(), 1);
    const Platform::CopyRequest copy = m_platform->copies().first();
    const QString backslashSource = QString(packDir() + "/" + kTop + "/*").replace('/', '\\');
    QCOMPARE(copy.nircmdArguments,
             (QStringList{"elevatecmd", "execmd", "xcopy", "/e", "/y", backslashSource,
                          QString(installDir()).replace('/', '\\')}));
    QCOMPARE(copy.source, packDir() + "/" + kTop);
    QCOMPARE(copy.target, installDir());
    QCOMPARE(m_global->m_unpackPath, backslashSource);
    QCOMPARE(m_platform->pauses(), QList<int>{500});
    QVERIFY(log.contains("INFO \"" + packagePath() + "\"  successfully decompressed"));
    QVERIFY(log.contains("INFO isShowUpdataInfo.txt write successed"));
    QVERIFY(log.contains("WARNING autoupdate config veison update successed"));
}

void TestPackageInstall::failures_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("logPrefix");
    QTest::addColumn<bool>("copied");
    QTest::addColumn<bool>("clientFilesWritten");

    QTest::newRow("file entry before its folder") << "orphan file"
                                                  << "DEBUG unzip  \"" << false << false;
    QTest::newRow("missing archive") << "no archive"
                                     << "DEBUG files replace error" << true << false;
    QTest::newRow("copy left old version") << "copy skipped"
                                           << "DEBUG files replace error" << true << false;
    QTest::newRow("copy tool fails to start")
        << "copy fails"
        << "DEBUG copy file error:  QProcess::FailedToStart" << true << false;
    QTest::newRow("copied configuration broken") << "broken config"
                                                 << "DEBUG  APP Jsondata Error:" << true << false;
    QTest::newRow("client data folder missing")
        << "no data folder"
        << "DEBUG update.log write failed:" << true << false;
}

void TestPackageInstall::failures()
{
    QFETCH(QString, scenario);
    QFETCH(QString, logPrefix);
    QFETCH(bool, copied);
    QFETCH(bool, clientFilesWritten);
    ZipBuilder package = goodPackage();
    if (scenario == "orphan file")
        package = ZipBuilder().directory(kTop + "/").file(kTop + "/lib/x.dat", "x");
    else if (scenario == "broken config")
        package = ZipBuilder()
                      .directory(kTop + "/")
                      .directory(kTop + "/config/")
                      .file(kTop + "/config/client.json", "{");
    if (scenario != "no archive")
        QVERIFY(package.write(packagePath()));
    if (scenario == "copy skipped")
        m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::Skip);
    if (scenario == "copy fails")
        m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::FailToStart);
    if (scenario == "no data folder")
        QVERIFY(QDir(m_home->clientDataDir()).removeRecursively());
    const QByteArray stateBefore = m_home->readFile("AppData/Roaming/AutoUpdate/updateconfig.json");
    QString path = packagePath();
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(path), -1);
    QVERIFY2(log.containsLineStartingWith(logPrefix), qPrintable(log.lines().join('\n')));
    QCOMPARE(!m_platform->copies().isEmpty(), copied);
    QCOMPARE(QFile::exists(m_home->clientDataDir() + "/update.log"), clientFilesWritten);
    QVERIFY(!QFile::exists(m_home->clientDataDir() + "/isShowUpdataInfo.txt"));
    QCOMPARE(m_home->readFile("AppData/Roaming/AutoUpdate/updateconfig.json"), stateBefore);
}

void TestPackageInstall::overwritesEarlierExtraction()
{
    QDir().mkpath(packDir() + "/" + kTop + "/bin");
    QFile stale(packDir() + "/" + kTop + "/bin/app.dat");
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("an older and longer content");
    stale.close();
    QVERIFY(goodPackage().write(packagePath()));
    QString path = packagePath();

    QCOMPARE(m_global->DecompressionReplac(path), 0);
    QCOMPARE(readAll(packDir() + "/" + kTop + "/bin/app.dat"), QByteArray("new app"));
}

void TestPackageInstall::stateWriteFailureStillSucceeds()
{
    QVERIFY(goodPackage().write(packagePath()));
    QVERIFY(QDir().mkpath(m_home->updaterDir() + "/updateconfig.json"));
    QString path = packagePath();
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(path), 0);
    QVERIFY(!log.contains("WARNING autoupdate config veison update successed"));
    QCOMPARE(readAll(m_home->clientDataDir() + "/isShowUpdataInfo.txt"), QByteArray("1"));
}

void TestPackageInstall::hostileEntriesRefused_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("symLinkInPlace");
    QTest::newRow("empty name") << "" << false;
    QTest::newRow("absolute") << "/tmp/evil.txt" << false;
    QTest::newRow("backslash absolute") << "\\evil.txt" << false;
    QTest::newRow("drive letter") << "C:/evil.txt" << false;
    QTest::newRow("leading parent") << "../evil.txt" << false;
    QTest::newRow("inner parent") << kTop + "/../../evil.txt" << false;
    QTest::newRow("backslash parent") << kTop + "\\..\\..\\evil.txt" << false;
    QTest::newRow("through a link on disk") << kTop + "/linked/evil.txt" << true;
}

void TestPackageInstall::hostileEntriesRefused()
{
    QFETCH(QString, entry);
    QFETCH(bool, symLinkInPlace);
    QTemporaryDir outside;
    if (symLinkInPlace) {
        QDir().mkpath(packDir() + "/" + kTop);
        QVERIFY(QFile::link(outside.path(), packDir() + "/" + kTop + "/linked"));
    }
    ZipBuilder package = goodPackage();
    package.file(entry, "evil").symLink(kTop + "/bin/link", "/etc");
    QVERIFY(package.write(packagePath()));
    const QStringList before = filesBelow(packDir());
    QString path = packagePath();
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(path), -1);
    QCOMPARE(filesBelow(packDir()), before);
    QVERIFY(filesBelow(outside.path()).isEmpty());
    QVERIFY(m_platform->copies().isEmpty());
    QVERIFY(log.lines().value(0).startsWith("DEBUG package refused, entry"));
}

QTEST_GUILESS_MAIN(TestPackageInstall)
#include "tst_packageinstall.moc"
