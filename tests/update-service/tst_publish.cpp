#include "packagezip.h"
#include "publisher.h"
#include "releasecatalogue.h"
#include "releasesignature.h"
#include "signingkey.h"
#include "updateservice.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QtGui/private/qzipreader_p.h>
#include <QtTest>

#include <functional>
#include <memory>

using updateservice::PackageKind;
using updateservice::PublishRequest;
using updateservice::Release;
using updateservice::ReleaseCatalogue;

// Turns a valid request, or the files it names, into a faulty one.
using Arrangement = std::function<void(PublishRequest& request)>;
Q_DECLARE_METATYPE(Arrangement)

namespace {

const QString kVersion = QStringLiteral("2.1.0");
// Published in this order, so the newest is the one with the lower number: versions are
// never ordered.
const QStringList kPublished{kVersion, "2.0.9"};

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Publishing a fresh client build of version, made below root/version, into root/releases:
//   Quorvex.exe, config/client.json (naming version), plugins/empty/
PublishRequest zipRequest(const QString& root, const QString& version)
{
    const QDir build(QDir(root).filePath(version));
    const QByteArray config = R"({"client":{"version":")" + version.toUtf8() + R"("}})";
    build.mkpath("config");
    build.mkpath("plugins/empty");
    for (const auto& [name, content] :
         {std::pair{"Quorvex.exe", QByteArray("program")}, {"config/client.json", config}}) {
        QFile file(build.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            qFatal("cannot write %s", qPrintable(file.fileName()));
        }
    }
    PublishRequest request;
    request.buildPath = build.path();
    request.version = version;
    request.notesZh = QStringLiteral("修复问题");
    request.notesEn = QStringLiteral("Fixes");
    request.releasesDir = QDir(root).filePath("releases");
    return request;
}

// Whether path exists, and everything below it, hidden entries included.
QStringList folderListing(const QString& path)
{
    QStringList listing{QFileInfo::exists(path) ? "present" : "absent"};
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        listing << it.next();
    }
    listing.sort();
    return listing;
}

QJsonObject bizOf(const QByteArray& checkAnswer)
{
    return QJsonDocument::fromJson(checkAnswer)["biz"].toObject();
}

std::unique_ptr<QProcess> runTool(const QStringList& arguments)
{
    auto tool = std::make_unique<QProcess>();
    tool->start(UPDATE_SERVICE_BINARY, arguments);
    tool->waitForFinished(30000);
    return tool;
}

} // namespace

// Publishes releases, then serves them as the serve command does.
class TestPublish : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void releaseDescribesPackage_data();
    void releaseDescribesPackage();
    void refusesAndLeavesNothing_data();
    void refusesAndLeavesNothing();
    void offersNewestRelease_data();
    void offersNewestRelease();
    void servesEveryPackage();
    void signedAnswersVerify_data();
    void signedAnswersVerify();
    void keygenWritesOnce();
    void commandRefuses_data();
    void commandRefuses();

private:
    QJsonObject servedBiz(const QString& clientVersion);

    QTemporaryDir m_dir;
    std::optional<updateservice::KeyFiles> m_keys;
    std::optional<ReleaseCatalogue> m_catalogue;
    updateservice::UpdateService m_service;
    QNetworkAccessManager m_network;
};

void TestPublish::initTestCase()
{
    QString error;
    m_keys = updateservice::writeKeyPair(m_dir.filePath("keys"), &error);
    QVERIFY2(m_keys, qPrintable(error));
    for (const QString& version : kPublished) {
        PublishRequest request = zipRequest(m_dir.path(), version);
        request.signingKeyPath = m_keys->secretKeyPath;
        QVERIFY2(updateservice::publish(request, &error), qPrintable(error));
    }
    m_catalogue = ReleaseCatalogue::load(m_dir.filePath("releases"), &error);
    QVERIFY2(m_catalogue && m_catalogue->serveWith(m_service, &error), qPrintable(error));
    QVERIFY(m_service.start());
}

void TestPublish::releaseDescribesPackage_data()
{
    QTest::addColumn<bool>("installer");
    QTest::addColumn<QString>("packageFile");
    QTest::addColumn<int>("updateType");
    QTest::addColumn<QString>("entries");

    // The updater makes folders only from their own entries, which must come first.
    QTest::newRow("zip")
        << false << "QuorvexClient_2.1.0.zip" << 1
        << "d QuorvexClient_2.1.0, f QuorvexClient_2.1.0/Quorvex.exe, "
           "d QuorvexClient_2.1.0/config, f QuorvexClient_2.1.0/config/client.json, "
           "d QuorvexClient_2.1.0/plugins, d QuorvexClient_2.1.0/plugins/empty";
    QTest::newRow("installer") << true << "QuorvexClient_2.1.0.exe" << 0 << QString();
}

void TestPublish::releaseDescribesPackage()
{
    QFETCH(bool, installer);
    QFETCH(QString, packageFile);
    QFETCH(int, updateType);
    QFETCH(QString, entries);
    QTemporaryDir dir;
    PublishRequest request = zipRequest(dir.path(), kVersion);
    request.name = "QuorvexClient";
    if (installer) {
        request.kind = PackageKind::Installer;
        request.buildPath += "/Quorvex.exe";
    }

    QString error;
    QVERIFY2(updateservice::publish(request, &error), qPrintable(error));

    // Read back as serve reads it.
    const std::optional<Release> release =
        updateservice::readRelease(dir.filePath("releases/2.1.0"), &error);
    QVERIFY2(release, qPrintable(error));
    QCOMPARE(release->packageFile, packageFile);
    const QByteArray package = readWholeFile(release->packageFilePath());
    QStringList zipped;
    if (installer) {
        QCOMPARE(package, readWholeFile(request.buildPath));
    } else {
        for (const auto& entry : QZipReader(release->packageFilePath()).fileInfoList()) {
            zipped << (entry.isDir ? "d " : "f ") + entry.filePath;
        }
    }
    QCOMPARE(zipped.join(", "), entries);
    QCOMPARE(release->biz.value("md5").toString().toLatin1(),
             QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex());
    QCOMPARE(release->biz.value("sha1").toString().toLatin1(),
             QCryptographicHash::hash(package, QCryptographicHash::Sha1).toHex());
    QCOMPARE(release->biz.value("packageSize").toInt(-1), package.size());
    QCOMPARE(release->biz.value("updateType").toInt(-1), updateType);
    QCOMPARE(release->biz.value("latestVersionInfo").toString(), QString("修复问题&Fixes"));
    for (const char* signedOnly : {"sha256", "sequence", "keyId", "signature"}) {
        QVERIFY2(!release->biz.contains(signedOnly), signedOnly);
    }
}

void TestPublish::refusesAndLeavesNothing_data()
{
    QTest::addColumn<Arrangement>("arrange");
    QTest::addColumn<QString>("message");

    QTest::newRow("build folder missing")
        << Arrangement([](PublishRequest& r) { r.buildPath += "-missing"; })
        << "build folder .*/2.1.0-missing does not exist$";
    QTest::newRow("empty version")
        << Arrangement([](PublishRequest& r) { r.version.clear(); }) << "^the version is empty$";
    QTest::newRow("configuration names another version")
        << Arrangement([](PublishRequest& r) { r.version = "2.1.1"; })
        << "names client version \"2.1.0\", not \"2.1.1\"";
    QTest::newRow("\"&\" in the notes")
        << Arrangement([](PublishRequest& r) { r.notesEn = "Fixes & more"; })
        << "must not contain \"&\"";
    // Refused while zipping, after the release has begun to take shape.
    QTest::newRow("file over 2 GiB") << Arrangement([](PublishRequest& r) {
        QFile huge(r.buildPath + "/plugins/huge.dat");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(updateservice::kMaxPackageSize + 1));
    }) << "huge.dat is larger than a package may be \\(2 GiB\\)$";
    const QString publicKey = m_keys->publicKeyPath;
    QTest::newRow("signing key that is no key")
        << Arrangement([=](PublishRequest& r) { r.signingKeyPath = publicKey; })
        << "signing.pub is not a signing key; give the signing.key that update-service keygen "
           "wrote$";
    QTest::newRow("signing key missing")
        << Arrangement([=](PublishRequest& r) { r.signingKeyPath = publicKey + "-missing"; })
        << "^cannot read signing key .*signing.pub-missing";
    QTest::newRow("published before")
        << Arrangement([](PublishRequest& r) { QVERIFY(updateservice::publish(r, nullptr)); })
        << "^release 2.1.0 already exists in ";
}

void TestPublish::refusesAndLeavesNothing()
{
    QFETCH(Arrangement, arrange);
    QFETCH(QString, message);
    QTemporaryDir dir;
    PublishRequest request = zipRequest(dir.path(), kVersion);
    arrange(request);
    const QStringList before = folderListing(request.releasesDir);

    QString error;
    QVERIFY(!updateservice::publish(request, &error));

    QVERIFY2(error.contains(QRegularExpression(message)) && !error.contains('\n'),
             qPrintable(error));
    QCOMPARE(folderListing(request.releasesDir), before);
}

void TestPublish::offersNewestRelease_data()
{
    QTest::addColumn<QString>("clientVersion");
    QTest::addColumn<QString>("update");

    QTest::newRow("client on an earlier release") << kPublished.first() << "1";
    QTest::newRow("client on the newest release") << kPublished.last() << "0";
}

void TestPublish::offersNewestRelease()
{
    QFETCH(QString, clientVersion);
    QFETCH(QString, update);

    const QJsonObject biz = servedBiz(clientVersion);
    QCOMPARE(biz.value("latestVersion").toString(), kPublished.last());
    QCOMPARE(biz.value("update").toString(), update);
}

// The "biz" of serve's answer to a client running clientVersion.
QJsonObject TestPublish::servedBiz(const QString& clientVersion)
{
    QNetworkRequest request(QUrl(QString::fromStdString(m_service.checkUrl())));
    request.setRawHeader("content-type", updateservice::kJsonContentType);
    std::unique_ptr<QNetworkReply> reply(
        m_network.post(request, R"({"clientVersion":")" + clientVersion.toUtf8() + "\"}"));
    // An empty object, which no case accepts, when the service does not answer.
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 10000)) {
        return QJsonObject();
    }
    return bizOf(reply->readAll());
}

void TestPublish::servesEveryPackage()
{
    // Also the older package, so that downloads begun before a newer release still work.
    QCOMPARE(m_catalogue->releases().size(), kPublished.size());
    for (const Release& release : m_catalogue->releases()) {
        const QUrl url(QString::fromStdString(m_service.packageUrl()) + release.id());
        std::unique_ptr<QNetworkReply> reply(m_network.get(QNetworkRequest(url)));
        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->readAll(), readWholeFile(release.packageFilePath()));
    }
}

// Every place a signed answer reaches the updater from carries the same verifiable release.
void TestPublish::signedAnswersVerify_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("serve") << "serve";
    QTest::newRow("static site") << "releases/2.0.9/site/www/check";
    QTest::newRow("release.json") << "releases/2.0.9/release.json";
}

void TestPublish::signedAnswersVerify()
{
    QFETCH(QString, source);
    const QJsonObject biz =
        source == "serve" ? servedBiz(QString()) : bizOf(readWholeFile(m_dir.filePath(source)));

    const ReleaseSignature::Verdict verdict =
        ReleaseSignature::verify(biz, ReleaseSignature::trustedKeys(m_keys->publicKey), 0);
    QVERIFY2(verdict.accepted, qPrintable(verdict.reason));
    QCOMPARE(verdict.sequence, qint64(kPublished.size()));
    const QByteArray package = readWholeFile(m_catalogue->newest().packageFilePath());
    QCOMPARE(biz.value("sha256").toString().toLatin1(),
             QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());
    QCOMPARE(biz.value("keyId").toString(), m_keys->keyId);
}

void TestPublish::keygenWritesOnce()
{
    const QTemporaryDir dir;
    const QString out = dir.filePath("new/keys");
    QCOMPARE(runTool({"keygen", "--out", out})->exitCode(), 0);
    const QByteArray secretKey = readWholeFile(out + "/signing.key");
    const QByteArray publicKey = readWholeFile(out + "/signing.pub");

    QCOMPARE(QFile::permissions(out + "/signing.key"),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QVERIFY(publicKey.endsWith('\n') && publicKey.count('\n') == 1);
    QCOMPARE(ReleaseSignature::trustedKeys(QString::fromLatin1(publicKey.trimmed())).keys.size(),
             1);
    QString error;
    QVERIFY2(updateservice::readSecretKey(out + "/signing.key", &error), qPrintable(error));

    const std::unique_ptr<QProcess> again = runTool({"keygen", "--out", out});
    QCOMPARE(again->exitCode(), 1);
    QVERIFY(again->readAllStandardError().contains("signing.key already exists"));
    QCOMPARE(readWholeFile(out + "/signing.key"), secretKey);
    QCOMPARE(readWholeFile(out + "/signing.pub"), publicKey);
}

void TestPublish::commandRefuses_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("message");

    // The build of 2.1.0 is no releases folder, and no build of another version either.
    QTest::newRow("publish") << "publish --build {build} --version 3.0 --notes-zh 修复 --notes-en "
                                "Fixes --out {build}/out"
                             << "names client version \"2.1.0\", not \"3.0\"";
    QTest::newRow("serve") << "serve --releases {build} --port 0"
                           << "{build} holds no release";
}

void TestPublish::commandRefuses()
{
    QFETCH(QString, arguments);
    QFETCH(QString, message);
    const QString build = m_dir.filePath(kPublished.first());
    QProcess tool;
    tool.start(UPDATE_SERVICE_BINARY, arguments.split(' ').replaceInStrings("{build}", build));
    QVERIFY(tool.waitForFinished(30000));

    QCOMPARE(tool.exitCode(), 1);
    const QString error = QString::fromLocal8Bit(tool.readAllStandardError());
    QVERIFY2(error.startsWith("update-service: ") && error.endsWith('\n') &&
                 error.count('\n') == 1 && error.contains(message.replace("{build}", build)),
             qPrintable(error));
    QCOMPARE(tool.readAllStandardOutput(), QByteArray());
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
