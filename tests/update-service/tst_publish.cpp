#include "packagezip.h"
#include "publisher.h"
#include "releasefixture.h"
#include "staticsite.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtGui/private/qzipreader_p.h>
#include <QtTest>

#include <functional>
#include <memory>
#include <unistd.h>

using updateservice::PackageKind;
using updateservice::PublishRequest;
using updateservice::Release;

// Changes a valid request, or the files it names, into a faulty one. root is the test's folder.
using Arrangement = std::function<void(PublishRequest& request, const QString& root)>;
Q_DECLARE_METATYPE(Arrangement)

namespace {

const QString kVersion = QStringLiteral("2.1.0");

// Everything below path, hidden entries included; "absent" when path does not exist.
QStringList folderListing(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        return {QStringLiteral("absent")};
    }
    QStringList listing;
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        listing << it.next();
    }
    listing.sort();
    return listing;
}

// "d path" or "f path" per entry, in the archive's order.
QStringList zipEntries(const QString& zipPath)
{
    QStringList entries;
    for (const QZipReader::FileInfo& entry : QZipReader(zipPath).fileInfoList()) {
        entries << (entry.isDir ? "d " : "f ") + entry.filePath;
    }
    return entries;
}

QString digest(const QByteArray& bytes, QCryptographicHash::Algorithm algorithm)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, algorithm).toHex());
}

QString makeSparseFile(const QString& path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size) ? path : QString();
}

quint16 freeLocalPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

bool acceptsConnections(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

class TestPublish : public QObject
{
    Q_OBJECT

private slots:
    void zipHoldsBuildBelowTopFolder_data();
    void zipHoldsBuildBelowTopFolder();
    void releaseDescribesPackage_data();
    void releaseDescribesPackage();
    void refusesAndLeavesNothing_data();
    void refusesAndLeavesNothing();
    void nginxServesStaticSite_data();
    void nginxServesStaticSite();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir m_dir;
};

void TestPublish::zipHoldsBuildBelowTopFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("topFolder");

    QTest::newRow("default name") << QString() << "quorvex_2.1.0";
    QTest::newRow("own name") << "QuorvexClient"
                              << "QuorvexClient_2.1.0";
}

void TestPublish::zipHoldsBuildBelowTopFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, topFolder);
    QTemporaryDir dir;
    PublishRequest request =
        zipRequest(makeClientBuild(dir.path(), "build", kVersion), kVersion, dir.filePath("out"));
    if (!name.isEmpty()) {
        request.name = name;
    }

    QString error;
    const std::optional<Release> release = updateservice::publish(request, &error);
    QVERIFY2(release, qPrintable(error));

    QCOMPARE(release->packageFile, topFolder + ".zip");
    const QStringList expected{"d " + topFolder,
                               "f " + topFolder + "/Quorvex.exe",
                               "d " + topFolder + "/config",
                               "f " + topFolder + "/config/client.json",
                               "d " + topFolder + "/plugins",
                               "f " + topFolder + "/plugins/codec.dll",
                               "d " + topFolder + "/plugins/empty"};
    QCOMPARE(zipEntries(release->packageFilePath()), expected);
    QCOMPARE(QZipReader(release->packageFilePath()).fileData(topFolder + "/config/client.json"),
             readWholeFile(request.buildPath + "/config/client.json"));
}

void TestPublish::releaseDescribesPackage_data()
{
    QTest::addColumn<bool>("installer");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("packageFile");
    QTest::addColumn<int>("updateType");

    QTest::newRow("zip") << false << "1"
                         << "quorvex_2.1.0.zip" << 1;
    QTest::newRow("installer, forced") << true << "2"
                                       << "QuorvexSetup_2.1.0.exe" << 0;
}

void TestPublish::releaseDescribesPackage()
{
    QFETCH(bool, installer);
    QFETCH(QString, mode);
    QFETCH(QString, packageFile);
    QFETCH(int, updateType);
    QTemporaryDir dir;
    const QString releasesDir = dir.filePath("releases");
    PublishRequest request =
        zipRequest(makeClientBuild(dir.path(), "build", kVersion), kVersion, releasesDir);
    request.updateMode = mode;
    if (installer) {
        request.kind = PackageKind::Installer;
        request.buildPath = request.buildPath + "/Quorvex.exe";
        request.name = "QuorvexSetup";
    }

    QString error;
    const std::optional<Release> published = updateservice::publish(request, &error);
    QVERIFY2(published, qPrintable(error));

    QCOMPARE(published->folder, QDir(releasesDir).absoluteFilePath(kVersion));
    QCOMPARE(folderListing(releasesDir).filter(QRegularExpression("/releases/[^/]*$")),
             QStringList{releasesDir + "/" + kVersion});
    const std::optional<Release> release = updateservice::readRelease(published->folder, &error);
    QVERIFY2(release, qPrintable(error));
    const QByteArray package = readWholeFile(release->packageFilePath());
    if (installer) {
        QCOMPARE(package, readWholeFile(request.buildPath));
    }
    QCOMPARE(release->packageFile, packageFile);
    QCOMPARE(release->sequence, qint64(1));
    const QJsonObject expected{
        {"id", packageFile},
        {"update", mode},
        {"latestVersion", kVersion},
        {"latestVersionUrl", packageFile},
        {"latestVersionInfo", "修复问题&Fixes"},
        {"md5", digest(package, QCryptographicHash::Md5)},
        {"sha1", digest(package, QCryptographicHash::Sha1)},
        {"packageSize", package.size()},
        {"updateType", updateType},
    };
    QCOMPARE(release->biz, expected);
}

void TestPublish::refusesAndLeavesNothing_data()
{
    QTest::addColumn<Arrangement>("arrange");
    QTest::addColumn<QString>("message");

    QTest::newRow("build folder missing")
        << Arrangement(
               [](PublishRequest& r, const QString& root) { r.buildPath = root + "/nowhere"; })
        << "build folder " + m_dir.path() + "/nowhere does not exist";
    QTest::newRow("empty version")
        << Arrangement([](PublishRequest& r, const QString&) { r.version.clear(); })
        << "the version is empty";
    QTest::newRow("version unfit for file names")
        << Arrangement([](PublishRequest& r, const QString&) { r.version = "2.1/0"; })
        << "the version \"2.1/0\" cannot be used in file names";
    QTest::newRow("configuration names another version")
        << Arrangement([](PublishRequest& r, const QString& root) {
               r.buildPath = makeClientBuild(root, "old", "2.0.3");
           })
        << "names client version \"2.0.3\", not \"2.1.0\"";
    QTest::newRow("configuration missing")
        << Arrangement([](PublishRequest& r, const QString&) { r.clientConfig = "client.json"; })
        << "client configuration " + m_dir.path() + "/build/client.json does not exist";
    QTest::newRow("configuration outside the build")
        << Arrangement([](PublishRequest& r, const QString&) {
               r.clientConfig = "../build/config/client.json";
           })
        << "must lie inside the build folder";
    QTest::newRow("notes holding the language separator")
        << Arrangement([](PublishRequest& r, const QString&) { r.notesEn = "Fixes & more"; })
        << "must not contain \"&\"";
    QTest::newRow("update mode 0")
        << Arrangement([](PublishRequest& r, const QString&) { r.updateMode = "0"; })
        << "the update mode must be 1 or 2";
    QTest::newRow("version published before") << Arrangement([](PublishRequest& r, const QString&) {
        QVERIFY(updateservice::publish(r, nullptr));
    }) << "release 2.1.0 already exists";
    QTest::newRow("releases folder is a file")
        << Arrangement([](PublishRequest& r, const QString&) {
               r.releasesDir = r.buildPath + "/Quorvex.exe";
           })
        << "is not a folder";
    QTest::newRow("installer over 2 GiB") << Arrangement([](PublishRequest& r,
                                                            const QString& root) {
        r.kind = PackageKind::Installer;
        r.buildPath = makeSparseFile(root + "/setup.exe", updateservice::kMaxPackageSize + 1);
    }) << "larger than a package may be (2 GiB)";
    // Refused while zipping, after the release has begun to take shape.
    QTest::newRow("file in the build over 2 GiB") << Arrangement([](PublishRequest& r,
                                                                    const QString&) {
        makeSparseFile(r.buildPath + "/plugins/huge.dat", updateservice::kMaxPackageSize + 1);
    }) << "huge.dat is larger than a package may be (2 GiB)";
    QTest::newRow("symbolic link in the build")
        << Arrangement([](PublishRequest& r, const QString&) {
               QVERIFY(QFile::link(r.buildPath + "/Quorvex.exe", r.buildPath + "/link.exe"));
           })
        << "link.exe is a symbolic link";
}

void TestPublish::refusesAndLeavesNothing()
{
    QFETCH(Arrangement, arrange);
    QFETCH(QString, message);
    QVERIFY(m_dir.isValid());
    const QString root = m_dir.path();
    QVERIFY(QDir(root).removeRecursively() && QDir().mkpath(root));
    PublishRequest request =
        zipRequest(makeClientBuild(root, "build", kVersion), kVersion, root + "/releases");
    arrange(request, root);
    const QStringList before = folderListing(request.releasesDir);

    QString error;
    QVERIFY(!updateservice::publish(request, &error));

    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY(!error.contains('\n'));
    QCOMPARE(folderListing(request.releasesDir), before);
}

void TestPublish::nginxServesStaticSite_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("isCheck");

    QTest::newRow("check, as the updater asks") << QByteArray("POST") << "/check" << true;
    QTest::newRow("check, from a browser") << QByteArray("GET") << "/check" << true;
    QTest::newRow("package") << QByteArray("GET") << "/pack/quorvex_2.1.0.zip" << false;
}

void TestPublish::nginxServesStaticSite()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    QFETCH(bool, isCheck);
    const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"});
    if (nginx.isEmpty()) {
        QSKIP("nginx is not installed");
    }
    QTemporaryDir dir;
    const std::optional<Release> release = updateservice::publish(
        zipRequest(makeClientBuild(dir.path(), "build", kVersion), kVersion, dir.filePath("out")),
        nullptr);
    QVERIFY(release);
    const QString site = release->folder + "/" + updateservice::kStaticSiteFolder;
    const quint16 port = freeLocalPort();
    QFile configuration(site + "/nginx.conf");
    QVERIFY(configuration.open(QIODevice::ReadWrite));
    QByteArray text = configuration.readAll();
    QCOMPARE(text.count("listen 8080;"), 1);
    text.replace("listen 8080;", "listen 127.0.0.1:" + QByteArray::number(port) + ";");
    QVERIFY(configuration.resize(0) && configuration.write(text) == text.size());
    configuration.close();

    QProcess server;
    // As root, nginx hands requests to an unprivileged user, who cannot enter a private
    // temporary folder.
    const QString globals = geteuid() == 0 ? "daemon off; user root;" : "daemon off;";
    server.start(nginx, {"-p", site, "-c", "nginx.conf", "-e", "logs/error.log", "-g", globals});
    QVERIFY(server.waitForStarted());
    QTRY_VERIFY2(acceptsConnections(port) || server.state() == QProcess::NotRunning,
                 qPrintable(readWholeFile(site + "/logs/error.log")));
    QVERIFY2(server.state() == QProcess::Running, server.readAllStandardError().constData());

    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
    request.setRawHeader("content-type", "application/json;charset=UTF-8");
    std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(
        request, verb, verb == "POST" ? R"({"clientVersion":"2.0.3"})" : QByteArray()));
    QTRY_VERIFY(reply->isFinished());
    server.terminate();
    server.waitForFinished();

    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    if (isCheck) {
        QCOMPARE(reply->rawHeader("Content-Type"), QByteArray("application/json;charset=UTF-8"));
        QCOMPARE(reply->readAll(), updateservice::checkAnswer(*release, QString()));
    } else {
        QCOMPARE(reply->readAll(), readWholeFile(release->packageFilePath()));
    }
}

void TestPublish::commandLine_data()
{
    QTest::addColumn<QString>("buildVersion");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("released");

    const QStringList publish{"publish",    "--build", "{build}", "--notes-zh", "修复",
                              "--notes-en", "Fixes",   "--out",   "{out}"};
    QTest::newRow("published") << kVersion << publish + QStringList{"--version", kVersion} << 0
                               << "published 2.1.0 in " << true;
    QTest::newRow("configuration names another version")
        << "2.0.3" << publish + QStringList{"--version", kVersion} << 1
        << "update-service: {build}/config/client.json names client version \"2.0.3\", not "
           "\"2.1.0\""
        << false;
    QTest::newRow("version missing")
        << kVersion << publish << 2 << "update-service: publish needs --version VERSION" << false;
}

void TestPublish::commandLine()
{
    QFETCH(QString, buildVersion);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(bool, released);
    QTemporaryDir dir;
    const QString build = makeClientBuild(dir.path(), "build", buildVersion);
    const QString out = dir.filePath("out");
    arguments.replaceInStrings("{build}", build).replaceInStrings("{out}", out);

    const ToolRun run = runTool(arguments);

    QCOMPARE(run.exitCode, exitCode);
    const QString printed =
        QString::fromLocal8Bit(exitCode == 0 ? run.standardOutput : run.standardError);
    QVERIFY2(printed.startsWith(output.replace("{build}", build)), qPrintable(printed));
    QCOMPARE(printed.count('\n'), 1);
    QCOMPARE(QFileInfo::exists(out + "/2.1.0/release.json"), released);
    QCOMPARE(QFileInfo::exists(out), released);
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
