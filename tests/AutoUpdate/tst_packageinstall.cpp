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

void put(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
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
ZipBuilder goodPackage()
{
    return ZipBuilder()
        .directory(kTop + "/")
        .directory(kTop + "/config/")
        .file(kTop + "/config/client.json", R"({"client":{"version":"2.1.0"}})")
        .directory(kTop + "/bin/")
        .file(kTop + "/bin/app.dat", "new app")
        .symLink(kTop + "/bin/link", "/etc");
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

    void installs_data();
    void installs();
    void failures_data();
    void failures();
    void hostileEntriesRefused_data();
    void hostileEntriesRefused();

private:
    QString packDir() const { return m_home->updaterDir() + "/QuorvexClient"; }
    QString packagePath() const { return packDir() + "/" + kTop + ".zip"; }
    QString installDir() const { return m_install->path(); }
    QString statePath() const { return m_home->updaterDir() + "/updateconfig.json"; }

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
    put(installDir() + "/config/client.json", R"({"client":{"version":"2.0.3"}})");
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(installDir() + "/AutoUpdate");

    m_global->m_appPath = installDir() + "/";
    m_global->m_appConfigFile = "config/client.json";
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

// The row's name is what was there before.
void TestPackageInstall::installs_data()
{
    QTest::addColumn<bool>("stateWritten");
    QTest::newRow("nothing") << true;
    QTest::newRow("an earlier, longer extraction") << true;
    QTest::newRow("a folder in the state file's place") << false;
}

void TestPackageInstall::installs()
{
    QFETCH(bool, stateWritten);
    if (QTest::currentDataTag() == QLatin1String("an earlier, longer extraction"))
        put(packDir() + "/" + kTop + "/bin/app.dat", "an older and longer content");
    if (!stateWritten)
        QVERIFY(QDir().mkpath(statePath()));
    QVERIFY(goodPackage().write(packagePath()));
    QString package = packagePath();
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(package), 0);
    QCOMPARE(readAll(installDir() + "/bin/app.dat"), QByteArray("new app"));
    QVERIFY(!QFileInfo::exists(packDir() + "/" + kTop + "/bin/link"));
    QCOMPARE(readAll(m_home->clientDataDir() + "/update.log"),
             QStringLiteral("修复了若干问题").toUtf8());
    QCOMPARE(readAll(m_home->clientDataDir() + "/isShowUpdataInfo.txt"), QByteArray("1"));
    QCOMPARE(QJsonDocument::fromJson(readAll(statePath())).object()["currentVersion"].toString(),
             QString(stateWritten ? "2.1.0" : ""));
    QCOMPARE(log.contains("WARNING autoupdate config veison update successed"), stateWritten);

    const QString backslashSource = QString(packDir() + "/" + kTop + "/*").replace('/', '\\');
    QCOMPARE(m_platform->copies().size(), 1);
    QCOMPARE(m_platform->copies().first().nircmdArguments,
             (QStringList{"elevatecmd", "execmd", "xcopy", "/e", "/y", backslashSource,
                          QString(installDir()).replace('/', '\\')}));
    QCOMPARE(m_platform->pauses(), QList<int>{500});
}

// The row's name is the scenario set up.
void TestPackageInstall::failures_data()
{
    QTest::addColumn<QString>("logPrefix");
    QTest::addColumn<bool>("copied");

    QTest::newRow("file entry before its folder") << "DEBUG unzip  \"" << false;
    QTest::newRow("missing archive") << "DEBUG package refused:" << false;
    QTest::newRow("copy left old version") << "DEBUG files replace error" << true;
    QTest::newRow("copy tool fails to start")
        << "DEBUG copy file error:  QProcess::FailedToStart" << true;
    QTest::newRow("copied configuration broken") << "DEBUG  APP Jsondata Error:" << true;
    QTest::newRow("client data folder missing") << "DEBUG update.log write failed:" << true;
}

void TestPackageInstall::failures()
{
    QFETCH(QString, logPrefix);
    QFETCH(bool, copied);
    const QString scenario = QTest::currentDataTag();
    ZipBuilder package = goodPackage();
    if (scenario == "file entry before its folder")
        package = ZipBuilder().directory(kTop + "/").file(kTop + "/lib/x.dat", "x");
    else if (scenario == "copied configuration broken")
        package = ZipBuilder()
                      .directory(kTop + "/")
                      .directory(kTop + "/config/")
                      .file(kTop + "/config/client.json", "{");
    if (scenario != "missing archive")
        QVERIFY(package.write(packagePath()));
    if (scenario == "copy left old version")
        m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::Skip);
    if (scenario == "copy tool fails to start")
        m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::FailToStart);
    if (scenario == "client data folder missing")
        QVERIFY(QDir(m_home->clientDataDir()).removeRecursively());
    QString path = packagePath();
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(path), -1);
    QVERIFY2(log.containsLineStartingWith(logPrefix), qPrintable(log.lines().join('\n')));
    QCOMPARE(!m_platform->copies().isEmpty(), copied);
    QCOMPARE(filesBelow(m_home->clientDataDir()), QStringList());
    QVERIFY(!QFileInfo::exists(statePath()));
}

void TestPackageInstall::hostileEntriesRefused_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("empty name") << "";
    QTest::newRow("absolute") << "/tmp/evil.txt";
    QTest::newRow("backslash absolute") << "\\evil.txt";
    QTest::newRow("drive letter") << "C:/evil.txt";
    QTest::newRow("leading parent") << "../evil.txt";
    QTest::newRow("inner parent") << kTop + "/../../evil.txt";
    QTest::newRow("backslash parent") << kTop + "\\..\\..\\evil.txt";
    QTest::newRow("through a link on disk") << kTop + "/linked/evil.txt";
}

void TestPackageInstall::hostileEntriesRefused()
{
    QFETCH(QString, entry);
#ifdef Q_OS_WIN
    if (entry.contains("/linked/"))
        QSKIP("QFile::link makes a shortcut on Windows, not a link to write through");
#endif
    // A link out of the extraction folder waits in every case, so a write through it shows.
    QTemporaryDir outside;
    QDir().mkpath(packDir() + "/" + kTop);
    QVERIFY(QFile::link(outside.path(), packDir() + "/" + kTop + "/linked"));
    QVERIFY(goodPackage().file(entry, "evil").write(packagePath()));
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
