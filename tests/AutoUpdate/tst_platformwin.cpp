#include "clientfiles.h"
#include "copycommand.h"
#include "dwondialog.h"
#include "global.h"
#include "launchrules.h"
#include "logcapture.h"
#include "logfile.h"
#include "platform/platform.h"
#include "testhome.h"
#include "updatedialog.h"
#include "zipbuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
constexpr qint64 kGiB = 1024LL * 1024 * 1024;

enum class Room { Both, NoneOnSystemDrive, NoneOnWorkingDrive };

Platform& windows()
{
    return Platform::current();
}

QString standInClient()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/QuorvexClient.exe");
}

// The stand-in client copied under the given file name, started to stay running for a minute.
std::unique_ptr<QProcess> startLingeringCopy(const QString& path)
{
    QFile::copy(standInClient(), path);
    auto process = std::make_unique<QProcess>();
    process->start(path, {QStringLiteral("--linger")});
    process->waitForStarted();
    return process;
}

// Makes a folder the working folder while it lives. Declared after a temporary folder, it lets
// the folder go before the folder is removed, which Windows refuses for a working folder.
class WorkingFolder
{
public:
    explicit WorkingFolder(const QString& path) : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(path);
    }
    ~WorkingFolder() { QDir::setCurrent(m_previous); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    QString m_previous;
};

// A drive other than C: with clearly less free space than it, so that a package can fit on C:
// and not there; empty when the machine has none.
QString smallerDrive(qint64 systemFree)
{
    for (const QFileInfo& drive : QDir::drives()) {
        const QString root = drive.absoluteFilePath();
        if (root.startsWith(QLatin1Char('C'), Qt::CaseInsensitive))
            continue;
        const Platform::FreeSpace space = windows().freeSpace(root);
        if (space.ok && space.bytes + kGiB < systemFree)
            return root;
    }
    return QString();
}
} // namespace
Q_DECLARE_METATYPE(Room)

// The Windows platform file against the system itself (under Wine on Linux). The stand-ins
// tasklist.exe and nircmd.exe lie beside this program, where its child processes are looked
// for first.
class TestPlatformWin : public QObject
{
    Q_OBJECT

private slots:
    void freeSpace_data();
    void freeSpace();
    void outOfSpaceMessageNamesDrive_data();
    void outOfSpaceMessageNamesDrive();
    void processQuery_data();
    void processQuery();
    void killStopsOnlyTheNamedProgram();
    void copyTree_data();
    void copyTree();
    void packageReplacesClient();
    void logFileUsesLocalCodePage();
    void startsDetachedWithArguments();
};

void TestPlatformWin::freeSpace_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("known");
    QTest::newRow("system volume") << "C:\\" << true;
    QTest::newRow("forward slashes") << "C:/" << true;
    QTest::newRow("missing drive") << "Q:\\" << false;
}

void TestPlatformWin::freeSpace()
{
    QFETCH(QString, path);
    QFETCH(bool, known);
    const Platform::FreeSpace space = windows().freeSpace(path);
    LogCapture log;
    const qint64 detected = Global().DiskSpaceDetection(path);

    QCOMPARE(space.ok, known);
    if (known) {
        QCOMPARE(space.errorCode, qint64(0));
        QVERIFY(qAbs(space.bytes - QStorageInfo(path).bytesFree()) < kGiB);
        QVERIFY(detected > 0);
        QVERIFY(log.lines().isEmpty());
    } else {
        QCOMPARE(space.bytes, qint64(0));
        QVERIFY(space.errorCode != 0);
        QCOMPARE(detected, qint64(0));
        QCOMPARE(log.lines(), QStringList{"DEBUG Call to GetDiskFreeSpaceEx() failed: " +
                                          QString::number(space.errorCode)});
    }
}

// Before the download, C: and the working folder's drive each need more than three times the
// package free; the message names the first drive without room by its letter.
void TestPlatformWin::outOfSpaceMessageNamesDrive_data()
{
    QTest::addColumn<Room>("room");
    QTest::addColumn<QString>("status");
    QTest::newRow("room on both") << Room::Both << "installing......0%";
    QTest::newRow("none on C:") << Room::NoneOnSystemDrive
                                << "Disk out of space on C, update failed.";
    QTest::newRow("none on the working drive")
        << Room::NoneOnWorkingDrive << "Disk out of space on %1, update failed.";
}

void TestPlatformWin::outOfSpaceMessageNamesDrive()
{
    QFETCH(Room, room);
    QFETCH(QString, status);
    const qint64 systemFree = windows().freeSpace(QStringLiteral("C:\\")).bytes;
    QVERIFY(systemFree > 0);
    QString workingFolder = QDir::tempPath();
    g_global.m_packageSize = room == Room::NoneOnSystemDrive ? systemFree : 0;
    if (room == Room::NoneOnWorkingDrive) {
        workingFolder = smallerDrive(systemFree);
        if (workingFolder.isEmpty())
            QSKIP("needs a drive with clearly less free space than C:");
        const qint64 driveFree = windows().freeSpace(workingFolder).bytes;
        g_global.m_packageSize = (driveFree + (systemFree - driveFree) / 2) / 3;
        status = status.arg(workingFolder.left(1));
    }
    const WorkingFolder working(workingFolder);
    g_global.m_language = QStringLiteral("en");
    g_global.m_appName = QStringLiteral("NotRunning.exe");
    g_global.m_args = QStringList{"-immediately"};
    UpdateDialog prompt;
    const std::unique_ptr<DwonDialog> progress(prompt.m_dwonDlg);

    prompt.updateMode(QStringLiteral("1"));

    QCOMPARE(progress->findChild<QLabel*>("labInstall")->text(), status);
}

// tasklist filters by image name ignoring case; the updater's own test of its output is
// case-sensitive. Names are passed and read in the local code page.
void TestPlatformWin::processQuery_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("queried");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("running");
    QTest::newRow("same name") << "QuorvexClient.exe"
                               << "QuorvexClient.exe" << true << true;
    QTest::newRow("other letter case") << "QuorvexClient.exe"
                                       << "quorvexclient.exe" << true << false;
    QTest::newRow("another program") << "QuorvexClient.exe"
                                     << "Other.exe" << false << false;
    QTest::newRow("accented name")
        << QStringLiteral("Café.exe") << QStringLiteral("Café.exe") << true << true;
}

void TestPlatformWin::processQuery()
{
    QFETCH(QString, image);
    QFETCH(QString, queried);
    QFETCH(bool, listed);
    QFETCH(bool, running);
    QTemporaryDir dir;
    const std::unique_ptr<QProcess> client = startLingeringCopy(dir.filePath(image));
    QCOMPARE(client->state(), QProcess::Running);

    const QString listing = windows().queryProcesses(queried);

    client->kill();
    client->waitForFinished();
    QVERIFY2(listing.contains(image) == listed, qPrintable(listing));
    QCOMPARE(LaunchRules::isClientRunning(listing, queried), running);
}

void TestPlatformWin::killStopsOnlyTheNamedProgram()
{
    const QString clientName = QStringLiteral("QuorvexClient.exe");
    const QString otherName = QStringLiteral("Other.exe");
    QTemporaryDir dir;
    const std::unique_ptr<QProcess> client = startLingeringCopy(dir.filePath(clientName));
    const std::unique_ptr<QProcess> other = startLingeringCopy(dir.filePath(otherName));

    windows().killProcesses(clientName);

    QTRY_VERIFY(!windows().queryProcesses(clientName).contains(clientName));
    QVERIFY(windows().queryProcesses(otherName).contains(otherName));
    other->kill();
    other->waitForFinished();
    client->waitForFinished();
}

// xcopy /e /y through nircmd.exe, elevated or not, between folders whose names hold spaces:
// files are replaced, empty folders come along, what the package does not hold stays.
void TestPlatformWin::copyTree_data()
{
    QTest::addColumn<bool>("elevate");
    QTest::newRow("with the user's rights") << false;
    QTest::newRow("elevated") << true;
}

void TestPlatformWin::copyTree()
{
    QFETCH(bool, elevate);
    QTemporaryDir root;
    const QString source = root.filePath(QStringLiteral("unpacked package/Quorvex Client_2.1.0"));
    const QString target = root.filePath(QStringLiteral("Program Files/Quorvex Client"));
    ClientFiles::write(source + "/config/client.json", "new config");
    ClientFiles::write(source + "/sub dir/file one.txt", "new one");
    QDir().mkpath(source + "/empty dir");
    ClientFiles::write(target + "/sub dir/file one.txt", "old one");
    ClientFiles::write(target + "/kept.txt", "kept");

    QVERIFY(windows().copyTree(CopyCommand::request(source, target, elevate)).ran);
    QCOMPARE(ClientFiles::read(target + "/config/client.json"), QByteArray("new config"));
    QCOMPARE(ClientFiles::read(target + "/sub dir/file one.txt"), QByteArray("new one"));
    QVERIFY(QFileInfo(target + "/empty dir").isDir());
    QCOMPARE(ClientFiles::read(target + "/kept.txt"), QByteArray("kept"));
}

// The whole zip road of the Windows file, for a client installed in a folder whose name holds
// spaces. Where the temporary folder lies outside the profile on its drive (as in the Wine
// prefix of scripts/windows.sh), the copy is one that asks for elevation.
void TestPlatformWin::packageReplacesClient()
{
    TestHome home;
    QTemporaryDir install(QDir::tempPath() + QStringLiteral("/Quorvex Client XXXXXX"));
    ClientFiles::write(install.filePath("config/client.json"), ClientFiles::config("2.0.3"));
    QDir().mkpath(install.filePath("AutoUpdate"));
    QDir().mkpath(home.clientDataDir());
    const QString top = QStringLiteral("QuorvexClient_2.1.0");
    const QString packDir = home.updaterDir() + QStringLiteral("/QuorvexClient");
    QString package = packDir + "/" + top + ".zip";
    QDir().mkpath(packDir);
    QVERIFY(ZipBuilder()
                .directory(top + "/")
                .directory(top + "/config/")
                .file(top + "/config/client.json", ClientFiles::config("2.1.0"))
                .directory(top + "/data files/")
                .file(top + "/data files/read me.txt", "new release")
                .write(package));
    const WorkingFolder working(install.filePath("AutoUpdate"));
    Global global;
    global.m_appPath = install.path() + "/";
    global.m_appConfigFile = QStringLiteral("config/client.json");
    global.m_latestVersion = QStringLiteral("2.1.0");

    QCOMPARE(global.DecompressionReplac(package), 0);
    QCOMPARE(ClientFiles::read(install.filePath("data files/read me.txt")),
             QByteArray("new release"));
    QCOMPARE(global.m_currentVersion, QStringLiteral("2.1.0"));
    QCOMPARE(global.m_unpackPath, CopyCommand::toBackslashes(packDir + "/" + top + "/*"));
    QVERIFY(global.m_unpackPath.startsWith(QStringLiteral("C:\\")));
}

void TestPlatformWin::logFileUsesLocalCodePage()
{
    TestHome home;
    const QString text = QStringLiteral("Café 更新");

    LogFile::messageHandler(QtInfoMsg, {}, text);
    LogFile::messageHandler(QtInfoMsg, {}, text);

    const QByteArray content =
        home.readFile(QStringLiteral("AppData/Roaming/AutoUpdate/AutoUpdate.log"));
    const QList<QByteArray> lines = content.split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).endsWith(" " + text.toLocal8Bit() + "\r"));
    QVERIFY(lines.at(1).endsWith(" " + text.toLocal8Bit() + "\r"));
    QVERIFY(!content.contains("\r\r"));
    const QString accent = QStringLiteral("é");
    if (accent.toLocal8Bit() != accent.toUtf8())
        QVERIFY(!content.contains(accent.toUtf8()));
}

void TestPlatformWin::startsDetachedWithArguments()
{
    QTemporaryDir dir;
    const QString client = dir.filePath(QStringLiteral("Quorvex Client.exe"));
    QVERIFY(QFile::copy(standInClient(), client));
    const QStringList arguments{"a b", "--url=room/7", "say \"hi\""};

    QVERIFY(windows().startDetached(client, arguments));

    QTRY_COMPARE(ClientFiles::launches(dir.path()), QList<QStringList>{arguments});
}

QTEST_MAIN(TestPlatformWin)
#include "tst_platformwin.moc"
