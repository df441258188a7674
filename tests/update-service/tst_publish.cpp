#include "packagezip.h"
#include "publisher.h"
#include "releasecatalogue.h"
#include "releasesignature.h"
#include "signingkey.h"
#include "updateservice.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtGui/private/qzipreader_p.h>
#include <QtTest>

#include <functional>

using updateservice::PublishRequest;

// Turns a valid request, or the files it names, into a faulty one.
using Arrangement = std::function<void(PublishRequest& request)>;
Q_DECLARE_METATYPE(Arrangement)

namespace {

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Publishing a fresh build of version, made below root/version: Quorvex.exe and
// config/client.json naming version, into root/releases.
PublishRequest zipRequest(const QString& root, const QString& version)
{
    const QDir build(QDir(root).filePath(version));
    build.mkpath("config");
    QFile(build.filePath("Quorvex.exe")).open(QIODevice::WriteOnly);
    QFile config(build.filePath("config/client.json"));
    config.open(QIODevice::WriteOnly);
    config.write(R"({"client":{"version":")" + version.toUtf8() + R"("}})");
    PublishRequest request;
    request.buildPath = build.path();
    request.version = version;
    request.notesZh = QStringLiteral("修复问题");
    request.notesEn = QStringLiteral("Fixes");
    request.releasesDir = QDir(root).filePath("releases");
    request.name = QStringLiteral("QuorvexClient");
    return request;
}

// Everything below path, hidden entries included.
QStringList folderListing(const QString& path)
{
    QStringList listing{QFileInfo::exists(path) ? "present" : "absent"};
    for (QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        listing << it.next();
    }
    listing.sort();
    return listing;
}

} // namespace

// Publishes releases, signs them, and offers them as serve does.
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
    void keygenWritesOnce();

private:
    QTemporaryDir m_dir;
    std::optional<updateservice::KeyFiles> m_keys;
};

void TestPublish::initTestCase()
{
    QString error;
    m_keys = updateservice::writeKeyPair(m_dir.filePath("keys"), &error);
    QVERIFY2(m_keys, qPrintable(error));
}

void TestPublish::releaseDescribesPackage_data()
{
    QTest::addColumn<bool>("installer");
    QTest::addColumn<bool>("sign");
    QTest::addColumn<QString>("entries");

    // The updater makes folders only from their own entries, which must come first.
    const QString zipped = "QuorvexClient_2.1.0/, QuorvexClient_2.1.0/Quorvex.exe, "
                           "QuorvexClient_2.1.0/config/, QuorvexClient_2.1.0/config/client.json";
    QTest::newRow("zip") << false << false << zipped;
    QTest::newRow("zip, signed") << false << true << zipped;
    QTest::newRow("installer, signed") << true << true << QString();
}

void TestPublish::releaseDescribesPackage()
{
    QFETCH(bool, installer);
    QFETCH(bool, sign);
    QFETCH(QString, entries);
    QTemporaryDir dir;
    PublishRequest request = zipRequest(dir.path(), "2.1.0");
    if (installer) {
        request.kind = updateservice::PackageKind::Installer;
        request.buildPath += "/config/client.json";
    }
    request.signingKeyPath = sign ? m_keys->secretKeyPath : QString();

    QString error;
    QVERIFY2(updateservice::publish(request, &error), qPrintable(error));

    const auto release = updateservice::readRelease(dir.filePath("releases/2.1.0"), &error);
    QVERIFY2(release, qPrintable(error));
    const QByteArray package = readWholeFile(release->packageFilePath());
    QStringList zipped;
    for (const auto& entry : QZipReader(release->packageFilePath()).fileInfoList()) {
        zipped << entry.filePath + (entry.isDir ? "/" : "");
    }
    QCOMPARE(zipped.join(", "), entries);
    QVERIFY(!installer || package == readWholeFile(request.buildPath));
    const QJsonObject biz = release->biz;
    QCOMPARE(biz.value("md5").toString().toLatin1(),
             QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex());
    QCOMPARE(biz.value("packageSize").toInt(-1), package.size());
    // The static site offers the same release.
    const QByteArray site = readWholeFile(dir.filePath("releases/2.1.0/site/www/check"));
    QCOMPARE(QJsonDocument::fromJson(site)["biz"].toObject(), biz);
    const auto verdict =
        ReleaseSignature::verify(biz, ReleaseSignature::trustedKeys(m_keys->publicKey), 0);
    QVERIFY2(verdict.accepted == sign, qPrintable(verdict.reason));
}

void TestPublish::refusesAndLeavesNothing_data()
{
    QTest::addColumn<Arrangement>("arrange");
    QTest::addColumn<QString>("message");

    QTest::newRow("build folder missing")
        << Arrangement([](PublishRequest& r) { r.buildPath += "-missing"; })
        << "build folder .*/2.1.0-missing does not exist$";
    QTest::newRow("configuration names another version")
        << Arrangement([](PublishRequest& r) { r.version = "2.1.1"; })
        << "names client version \"2.1.0\", not \"2.1.1\"";
    // Refused while zipping, after the release has begun to take shape.
    QTest::newRow("file over 2 GiB") << Arrangement([](PublishRequest& r) {
        QFile huge(r.buildPath + "/huge.dat");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(updateservice::kMaxPackageSize + 1));
    }) << "huge.dat is larger than a package may be \\(2 GiB\\)$";
    const QString publicKey = m_keys->publicKeyPath;
    QTest::newRow("signing key that is no key")
        << Arrangement([=](PublishRequest& r) { r.signingKeyPath = publicKey; })
        << "signing.pub is not a signing key";
    QTest::newRow("published before")
        << Arrangement([](PublishRequest& r) { QVERIFY(updateservice::publish(r, nullptr)); })
        << "^release 2.1.0 already exists in ";
}

void TestPublish::refusesAndLeavesNothing()
{
    QFETCH(Arrangement, arrange);
    QFETCH(QString, message);
    QTemporaryDir dir;
    PublishRequest request = zipRequest(dir.path(), "2.1.0");
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
    QTest::addColumn<QByteArray>("clientVersion");
    QTest::addColumn<QString>("update");

    // Published 2.1.0 first, then 2.0.9: the newest is the later one, whatever its number.
    QTest::newRow("client on the earlier release") << QByteArray("2.1.0") << "1";
    QTest::newRow("client on the newest release") << QByteArray("2.0.9") << "0";
}

// The service is asked directly: what reaches it over the network is another test's concern.
void TestPublish::offersNewestRelease()
{
    QFETCH(QByteArray, clientVersion);
    QFETCH(QString, update);
    struct Service : updateservice::UpdateService
    {
        using UpdateService::answerCheck;
    } service;
    QTemporaryDir dir;
    for (const char* version : {"2.1.0", "2.0.9"}) {
        QVERIFY(updateservice::publish(zipRequest(dir.path(), version), nullptr));
    }
    QString error;
    const auto catalogue = updateservice::ReleaseCatalogue::load(dir.filePath("releases"), &error);
    QVERIFY2(catalogue && catalogue->serveWith(service, &error), qPrintable(error));

    const auto answer = service.answerCheck(
        {"POST", "/check", {}, {}, R"({"clientVersion":")" + clientVersion + "\"}"});
    const QJsonObject biz = QJsonDocument::fromJson(answer->body)["biz"].toObject();
    QCOMPARE(biz.value("latestVersion").toString(), QString("2.0.9"));
    QCOMPARE(biz.value("update").toString(), update);
}

void TestPublish::keygenWritesOnce()
{
    const QString out = m_dir.filePath("new/keys");
    QProcess keygen;
    for (int exitCode : {0, 1}) {
        const QByteArray secretKey = readWholeFile(out + "/signing.key");
        keygen.start(UPDATE_SERVICE_BINARY, {"keygen", "--out", out});
        QVERIFY(keygen.waitForFinished(30000));
        QCOMPARE(keygen.exitCode(), exitCode);
        QVERIFY(exitCode == 0 || readWholeFile(out + "/signing.key") == secretKey);
    }
    QVERIFY(keygen.readAllStandardError().contains("signing.key already exists"));
    QCOMPARE(QFile::permissions(out + "/signing.key"),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    const QByteArray publicKey = readWholeFile(out + "/signing.pub").trimmed();
    QCOMPARE(ReleaseSignature::trustedKeys(QString::fromLatin1(publicKey)).keys.size(), 1);
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
