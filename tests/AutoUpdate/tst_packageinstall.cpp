#include "clientbackup.h"
#include "clientfiles.h"
#include "copymode.h"
#include "fakeplatform.h"
#include "global.h"
#include "logcapture.h"
#include "packageunpacker.h"
#include "testhome.h"
#include "zipbuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

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

// A release of the client as the service packs it: it replaces two files of the client and adds
// one beside them and one in a folder of its own.
ZipBuilder goodPackage(const QByteArray& version = "2.1.0")
{
    return ZipBuilder()
        .directory(kTop + "/")
        .directory(kTop + "/config/")
        .file(kTop + "/config/client.json", R"({"client":{"version":")" + version + R"("}})")
        .directory(kTop + "/shortcuts/")
        .file(kTop + "/shortcuts/Quorvex.lnk", "new shortcut")
        .directory(kTop + "/bin/")
        .file(kTop + "/bin/app.dat", "new app")
        .file(kTop + "/bin/added.dat", "added")
        .symLink(kTop + "/bin/link", "/etc")
        .directory(kTop + "/plugins/")
        .file(kTop + "/plugins/new.dat", "new plugin");
}

// A tmpfs of 600 KiB at folder, filled to the last byte when asked: every write into it fails.
// False where the test may not mount.
bool mountSmallDisk(const QString& folder, bool fill)
{
    QDir().mkpath(folder);
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=600k", "tmpfs", folder}) != 0)
        return false;
    QFile filler(folder + "/filler");
    if (fill && filler.open(QIODevice::WriteOnly)) {
        const QByteArray block(64 * 1024, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    return true;
}

// A good package whose last entry's header says something else.
template <typename Field, typename Value>
ZipBuilder withLyingEntry(Field ZipBuilder::Entry::*field, Value value)
{
    ZipBuilder package = goodPackage().file(kTop + "/bin/extra.dat", "extra data");
    package.last().*field = static_cast<Field>(value);
    return package;
}

// The room the refused packages are given on the client's volume.
constexpr int kTightRoom = 64 * 1024;

// Every file and folder below a folder with its content, to compare a tree before and after.
using Snapshot = QMap<QString, QByteArray>;

Snapshot snapshot(const QString& folder)
{
    Snapshot tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree.insert(path.mid(folder.size()), it.fileInfo().isDir() ? "<folder>" : readAll(path));
    }
    return tree;
}

ZipBuilder corruptDeflateStream()
{
    ZipBuilder package = goodPackage().deflated(kTop + "/bin/big.dat", QByteArray(4096, 'a'));
    package.last().stored.fill('\xff');
    return package;
}

ZipBuilder storedPastTheEnd()
{
    ZipBuilder package = goodPackage().file(kTop + "/bin/long.dat", "short");
    package.last().size = package.last().compressedSize = 65536;
    return package;
}

ZipBuilder inflatesPastDeclaredSize()
{
    ZipBuilder package = goodPackage().deflated(kTop + "/bin/bomb.dat", QByteArray(1 << 20, 0));
    package.last().size = 1024;
    return package;
}

ZipBuilder tooManyEntries()
{
    ZipBuilder package = goodPackage();
    while (package.count() <= PackageUnpacker::kMaxEntries)
        package.file(kTop + "/many/" + QString::number(package.count()), {});
    return package;
}
} // namespace

using PackageMaker = ZipBuilder (*)();
Q_DECLARE_METATYPE(PackageMaker)

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
    void interruptedInstallRestored();
    void refused_data();
    void refused();
    void richPackageInstalls();

private:
    bool mountSmallDisk(const QString& folder, bool fill);

    QString packDir() const { return m_home->updaterDir() + "/QuorvexClient"; }
    QString packagePath() const { return packDir() + "/" + kTop + ".zip"; }
    QString installDir() const { return m_install->path(); }
    QString statePath() const { return m_home->updaterDir() + "/updateconfig.json"; }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<QTemporaryDir> m_install;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<Global> m_global;
    QString m_previousDir;
    QStringList m_mounts;
};

bool TestPackageInstall::mountSmallDisk(const QString& folder, bool fill)
{
    if (!::mountSmallDisk(folder, fill))
        return false;
    m_mounts.append(folder);
    return true;
}

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
    put(installDir() + "/bin/app.dat", "old app");
    put(installDir() + "/kept.txt", "not in the package");
    put(installDir() + "/shortcuts/Quorvex.lnk", "old shortcut");
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
    for (const QString& folder : qAsConst(m_mounts))
        QProcess::execute("umount", {folder});
    m_mounts.clear();
    m_global.reset();
    m_platform.reset();
    m_install.reset();
    m_home.reset();
}

// The row's name is what was there before.
void TestPackageInstall::installs_data()
{
    QTest::addColumn<bool>("copiedToBackup");
    QTest::newRow("nothing") << false;
    QTest::newRow("an earlier, longer extraction") << false;
    // The client's files cannot be moved there and are copied.
    QTest::newRow("the backup folder on another volume") << true;
}

void TestPackageInstall::installs()
{
    QFETCH(bool, copiedToBackup);
    const QString scenario = QTest::currentDataTag();
    if (scenario == "an earlier, longer extraction")
        put(packDir() + "/" + kTop + "/bin/app.dat", "an older and longer content");
    if (copiedToBackup && !mountSmallDisk(ClientBackup::backupFolder(), false))
        QSKIP("another volume needs a tmpfs mounted, which takes root");
    QVERIFY(goodPackage().write(packagePath()));
    QString package = packagePath();
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(package), 0);
    QCOMPARE(readAll(installDir() + "/bin/app.dat"), QByteArray("new app"));
    QCOMPARE(readAll(installDir() + "/plugins/new.dat"), QByteArray("new plugin"));
    QCOMPARE(readAll(installDir() + "/kept.txt"), QByteArray("not in the package"));
    QVERIFY(!QFileInfo::exists(packDir() + "/" + kTop + "/bin/link"));
    QCOMPARE(readAll(m_home->clientDataDir() + "/update.log"),
             QStringLiteral("修复了若干问题").toUtf8());
    QCOMPARE(readAll(m_home->clientDataDir() + "/isShowUpdataInfo.txt"), QByteArray("1"));
    QCOMPARE(QJsonDocument::fromJson(readAll(statePath())).object()["currentVersion"].toString(),
             QString("2.1.0"));
    QVERIFY(log.contains("WARNING autoupdate config veison update successed"));
    QVERIFY(log.containsLineStartingWith(
        copiedToBackup ? "INFO client files saved: 3 files, 49 bytes, 49 bytes copied,"
                       : "INFO client files saved: 3 files, 49 bytes, 0 bytes copied,"));
    QVERIFY(!QFileInfo::exists(ClientBackup::journalPath()));
    QVERIFY(ClientFiles::tree(ClientBackup::backupFolder()).isEmpty());

    QCOMPARE(m_platform->copies().size(), 1);
    const auto backslashes = [](QString path) { return path.replace('/', '\\'); };
    QCOMPARE(m_platform->copies().first().nircmdArguments,
             (QStringList{"elevatecmd", "execmd", backslashes(CopyMode::program()), "-copytree",
                          backslashes(m_home->updaterDir() + "/copy-verdict"), "xcopy", "/e", "/y",
                          backslashes(packDir() + "/" + kTop + "/*"), backslashes(installDir())}));
    QCOMPARE(m_platform->pauses(), QList<int>{500});
}

// Whatever fails, and wherever, the client folder is left holding exactly the files and
// contents it held, nothing announces the new version, and no journal or backup stays behind.
// The row's name is the scenario set up.
void TestPackageInstall::failures_data()
{
    QTest::addColumn<QString>("logPrefix");
    QTest::addColumn<bool>("copied");

    QTest::newRow("file entry before its folder") << "DEBUG unzip  \"" << false;
    QTest::newRow("missing archive") << "DEBUG package refused:" << false;
    QTest::newRow("full disk while unpacking") << "DEBUG unzip  \"" << false;
    QTest::newRow("full disk while saving the client's files")
        << "DEBUG client file not saved:" << false;
    QTest::newRow("copy tool fails to start")
        << "DEBUG copy file error:  QProcess::FailedToStart" << true;
    QTest::newRow("copy fails halfway") << "DEBUG copy file error: exit code 1" << true;
    QTest::newRow("copy ends early") << "DEBUG copy file error: differs" << true;
    QTest::newRow("copied configuration names another version")
        << "DEBUG files replace error" << true;
    QTest::newRow("copied configuration broken") << "DEBUG  APP Jsondata Error:" << true;
    QTest::newRow("client data folder missing") << "DEBUG update.log write failed:" << true;
    QTest::newRow("full disk for the notes") << "DEBUG update.log write failed:" << true;
    QTest::newRow("state file cannot be replaced") << "DEBUG WriteConfigToFile failed:" << true;
}

void TestPackageInstall::failures()
{
    QFETCH(QString, logPrefix);
    QFETCH(bool, copied);
    const QString scenario = QTest::currentDataTag();
    ZipBuilder package = goodPackage();
    if (scenario == "file entry before its folder")
        package = ZipBuilder().directory(kTop + "/").file(kTop + "/lib/x.dat", "x");
    else if (scenario == "full disk while unpacking")
        package = goodPackage().file(kTop + "/bin/large.dat", QByteArray(400 * 1024, 'z'));
    else if (scenario == "copied configuration names another version")
        package = goodPackage("2.0.9");
    else if (scenario == "copied configuration broken")
        package = ZipBuilder()
                      .directory(kTop + "/")
                      .directory(kTop + "/config/")
                      .file(kTop + "/config/client.json", "{");
    // The disk is small where the package is unpacked (it holds the package but not its content
    // too) or the client files are saved, and full where the notes go.
    const QString disk = scenario.contains("unpacking") ? packDir()
                         : scenario.contains("saving")  ? ClientBackup::backupFolder()
                                                        : m_home->clientDataDir();
    if (scenario.startsWith("full disk") && !mountSmallDisk(disk, scenario.contains("notes")))
        QSKIP("a full disk needs a tmpfs mounted, which takes root");
    if (scenario == "full disk while saving the client's files")
        put(installDir() + "/bin/app.dat", QByteArray(700 * 1024, 'o'));
    if (scenario != "missing archive")
        QVERIFY(package.write(packagePath()));
    const QMap<QString, QByteArray> before = ClientFiles::tree(installDir());
    if (scenario == "copy tool fails to start")
        m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::FailToStart);
    if (scenario == "copy fails halfway")
        m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::FailHalfway);
    if (scenario == "copy ends early")
        m_platform->setCopyBehaviour(FakePlatform::CopyBehaviour::EndEarly);
    if (scenario == "client data folder missing")
        QVERIFY(QDir(m_home->clientDataDir()).removeRecursively());
    if (scenario == "state file cannot be replaced")
        QVERIFY(QDir().mkpath(statePath()));
    QString path = packagePath();
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(path), -1);
    QVERIFY2(log.containsLineStartingWith(logPrefix), qPrintable(log.lines().join('\n')));
    QCOMPARE(!m_platform->copies().isEmpty(), copied);
    QCOMPARE(ClientFiles::tree(installDir()), before);
    if (copied) {
        QVERIFY(log.containsLineStartingWith("INFO client folder restored:"));
        // Put back by the same copy, elevated as the install's was.
        const Platform::CopyRequest restore = m_platform->copies().last();
        QCOMPARE(restore.source, ClientBackup::backupFolder());
        QCOMPARE(restore.target, installDir());
        QCOMPARE(restore.nircmdArguments.first(), QString("elevatecmd"));
    }
    QVERIFY(!QFileInfo::exists(m_home->clientDataDir() + "/isShowUpdataInfo.txt"));
    QVERIFY(!QFileInfo(statePath()).isFile());
    QVERIFY(!QFileInfo::exists(ClientBackup::journalPath()));
    QVERIFY(ClientFiles::tree(ClientBackup::backupFolder()).isEmpty());
}

// A run killed in the middle of the copy leaves the journal behind, and the client half new with
// an empty configuration. The next start puts the saved files back and removes the added ones,
// and leaves alone what the client wrote in the meantime.
void TestPackageInstall::interruptedInstallRestored()
{
    const QString tree = packDir() + "/" + kTop;
    put(tree + "/config/client.json", R"({"client":{"version":"2.1.0"}})");
    put(tree + "/bin/app.dat", "new app");
    put(tree + "/bin/added.dat", "added");
    put(tree + "/plugins/new.dat", "new plugin");
    const QMap<QString, QByteArray> before = ClientFiles::tree(installDir());
    QVERIFY(ClientBackup().save(tree, installDir(), false));
    const QJsonObject journal =
        QJsonDocument::fromJson(readAll(ClientBackup::journalPath())).object();
    QCOMPARE(journal["clientFolder"].toString(), installDir());
    QCOMPARE(journal["saved"].toVariant().toStringList(),
             (QStringList{"bin/app.dat", "config/client.json"}));
    QCOMPARE(journal["added"].toVariant().toStringList(),
             (QStringList{"bin/added.dat", "plugins/new.dat"}));
    QCOMPARE(journal["addedFolders"].toVariant().toStringList(), QStringList{"plugins"});

    put(installDir() + "/bin/app.dat", "new app");
    put(installDir() + "/bin/added.dat", "added");
    put(installDir() + "/config/client.json", "");
    QVERIFY(QDir().mkpath(installDir() + "/plugins"));
    put(installDir() + "/client.log", "written by the client meanwhile");
    LogCapture log;

    QVERIFY(ClientBackup::restoreInterruptedInstall());
    QCOMPARE(readAll(installDir() + "/client.log"), QByteArray("written by the client meanwhile"));
    QVERIFY(QFile::remove(installDir() + "/client.log"));
    QCOMPARE(ClientFiles::tree(installDir()), before);
    QVERIFY(log.containsLineStartingWith("INFO client folder restored:"));
    QVERIFY(!QFileInfo::exists(ClientBackup::journalPath()));
    QVERIFY(!QFileInfo::exists(ClientBackup::backupFolder()));
}

// Each row is a package that must be refused whole before anything reaches the client, and the
// reason its refusal names.
void TestPackageInstall::refused_data()
{
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<PackageMaker>("make");
    const QString zip = kTop + ".zip";
    auto row = [&zip](const char* name, const char* reason, PackageMaker make) {
        QTest::newRow(name) << QString(reason) << zip << make;
    };
    // Names that would land elsewhere or on each other.
    row("empty name", "has no name", [] { return goodPackage().file("", "x"); });
    row("absolute", "absolute", [] { return goodPackage().file("/tmp/evil.txt", "x"); });
    row("backslash absolute", "absolute", [] { return goodPackage().file("\\evil.txt", "x"); });
    row("drive letter", "drive", [] { return goodPackage().file("C:/evil.txt", "x"); });
    row("leading parent", "climbs", [] { return goodPackage().file("../evil.txt", "x"); });
    row("inner parent", "climbs", [] { return goodPackage().file(kTop + "/../../x", "x"); });
    row("backslash parent", "climbs", [] { return goodPackage().file(kTop + "\\..\\..\\x", "x"); });
    row("through a link on disk", "link",
        [] { return goodPackage().file(kTop + "/linked/x", "x"); });
    row("outside the top folder", "top folder", [] { return goodPackage().file("Other/x", "x"); });
    row("named like the package", "top folder",
        [] { return goodPackage().file(kTop + ".zip", "x"); });
    QTest::newRow("package without a base name")
        << "no base name"
        << ".zip" << PackageMaker([] { return goodPackage(); });
    row("duplicate", "exists", [] { return goodPackage().file(kTop + "/bin/app.dat", "x"); });
    row("duplicate once cleaned", "repeats",
        [] { return goodPackage().file(kTop + "/bin/./app.dat", "x"); });
    row("file and folder on one path", "repeats",
        [] { return goodPackage().directory(kTop + "/bin/app.dat/"); });
    // Entries that cannot or must not be read.
    row("compression method 99", "cannot be opened",
        [] { return withLyingEntry(&ZipBuilder::Entry::method, 99); });
    row("compression method 14", "method 14",
        [] { return withLyingEntry(&ZipBuilder::Entry::method, 14); });
    row("encrypted", "encrypted", [] { return withLyingEntry(&ZipBuilder::Entry::flags, 0x0801); });
    row("CRC mismatch", "CRC", [] { return withLyingEntry(&ZipBuilder::Entry::crc, 1); });
    row("corrupt deflate stream", "cannot be unpacked", &corruptDeflateStream);
    row("stored entry past the end", "cannot be opened", &storedPastTheEnd);
    row("compressed size of 2 GiB", "cannot be opened",
        [] { return withLyingEntry(&ZipBuilder::Entry::compressedSize, 1u << 31); });
    row("offset of another entry", "cannot be opened",
        [] { return withLyingEntry(&ZipBuilder::Entry::offset, 0); });
    row("directory count short", "cannot be opened", [] { return goodPackage().declareCount(5); });
    row("directory of size 0", "cannot be opened",
        [] { return goodPackage().declareDirectorySize(0); });
    row("end record cut off", "cannot be opened", [] { return goodPackage().truncateBy(10); });
    row("no files", "holds no files", [] { return ZipBuilder().directory(kTop + "/"); });
    // Bombs: what the entries produce or declare goes beyond what the package can hold.
    row("inflates past its declared size", "declared size", &inflatesPastDeclaredSize);
    row("declares 2 GiB", "100 times",
        [] { return withLyingEntry(&ZipBuilder::Entry::size, 0x7fffffff); });
    row("more entries than allowed", "more than 100000", &tooManyEntries);
    row("more than the free space", "bytes free",
        [] { return goodPackage().file(kTop + "/big", QByteArray(kTightRoom, 'x')); });
}

void TestPackageInstall::refused()
{
    QFETCH(QString, reason);
    QFETCH(QString, fileName);
    QFETCH(PackageMaker, make);
    // A link out of the extraction folder waits in every case, so a write through it shows.
    QTemporaryDir outside;
    QDir().mkpath(packDir() + "/" + kTop);
#ifdef Q_OS_WIN
    if (QByteArray(QTest::currentDataTag()) == "through a link on disk")
        QSKIP("QFile::link makes a shortcut on Windows, not a link to write through");
#else
    QVERIFY(QFile::link(outside.path(), packDir() + "/" + kTop + "/linked"));
#endif
    m_platform->setFreeSpace(m_platform->workingVolume(), kTightRoom);
    QString package = packDir() + "/" + fileName;
    QVERIFY(make().write(package));
    const QStringList before = filesBelow(packDir());
    const Snapshot client = snapshot(installDir());
    LogCapture log;

    QCOMPARE(m_global->DecompressionReplac(package), -1);
    QCOMPARE(snapshot(installDir()), client);
    QCOMPARE(filesBelow(packDir()), before);
    QVERIFY(filesBelow(outside.path()).isEmpty());
    QVERIFY(m_platform->copies().isEmpty());
    const QStringList refusals = log.linesStartingWith("DEBUG package refused");
    QCOMPARE(refusals.size(), 1);
    QVERIFY2(refusals.first().contains(reason), qPrintable(refusals.first()));
}

// An executable, a file named like a Windows shortcut (which the client holds already) and
// thousands of entries, some deflated.
void TestPackageInstall::richPackageInstalls()
{
    constexpr int kDataFiles = 2000;
    ZipBuilder package =
        goodPackage().file(kTop + "/bin/helper", "#!/bin/sh\n", 0100755).directory(kTop + "/data/");
    for (int i = 0; i < kDataFiles; ++i) {
        const QString name = kTop + QString("/data/%1.txt").arg(i);
        const QByteArray content = QByteArray::number(i).repeated(50);
        i % 10 == 0 ? package.deflated(name, content) : package.file(name, content);
    }
    QVERIFY(package.write(packagePath()));
    QString path = packagePath();
    LogCapture log;

    QVERIFY2(m_global->DecompressionReplac(path) == 0, qPrintable(log.lines().join('\n')));
    QCOMPARE(readAll(installDir() + "/shortcuts/Quorvex.lnk"), QByteArray("new shortcut"));
    QCOMPARE(filesBelow(installDir() + "/data").size(), kDataFiles);
    QCOMPARE(readAll(installDir() + "/data/1230.txt"), QByteArray("1230").repeated(50));
#ifndef Q_OS_WIN
    const QString unpacked = packDir() + "/" + kTop + "/bin/";
    QVERIFY(QFileInfo(unpacked + "helper").permissions().testFlag(QFile::ExeOwner));
    QVERIFY(!QFileInfo(unpacked + "app.dat").permissions().testFlag(QFile::ExeOwner));
#endif
}

QTEST_GUILESS_MAIN(TestPackageInstall)
#include "tst_packageinstall.moc"
