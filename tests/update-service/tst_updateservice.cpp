#include "clientfiles.h"
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
#include <QTemporaryDir>
#include <QtGui/private/qzipreader_p.h>
#include <QtTest>

#include <functional>
#include <memory>

using updateservice::PublishRequest;
using updateservice::Release;

// Turns a valid request, or the files it names, into a faulty one.
using Arrangement = std::function<void(PublishRequest& request)>;
Q_DECLARE_METATYPE(Arrangement)

namespace {

// Publishing a build of version below root: a program of several pieces, a configuration.
PublishRequest zipRequest(const QString& root, const QString& version)
{
    PublishRequest request;
    request.buildPath = QDir(root).filePath(version);
    ClientFiles::write(request.buildPath + "/Quorvex.exe",
                       QByteArray("0123456789abcdefg").repeated(12000));
    ClientFiles::write(request.buildPath + "/config/client.json", ClientFiles::config(version));
    request.version = version;
    request.notesZh = request.notesEn = QStringLiteral("Fixes");
    request.releasesDir = QDir(root).filePath("releases");
    return request;
}

} // namespace

// update-service's publish and keygen, and the server that serve runs, on two releases.
class TestUpdateService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void releaseDescribesPackage_data();
    void releaseDescribesPackage();
    void refusesAndLeavesNothing_data();
    void refusesAndLeavesNothing();
    void serves_data();
    void serves();
    void startFailsWhilePortIsTaken();
    void keygenWritesOnce();

private:
    QTemporaryDir m_dir;
    std::optional<updateservice::KeyFiles> m_keys;
    std::optional<updateservice::ReleaseCatalogue> m_catalogue;
    updateservice::UpdateService m_service;
    QNetworkAccessManager m_network;
};

void TestUpdateService::initTestCase()
{
    QString error;
    m_keys = updateservice::writeKeyPair(m_dir.filePath("keys"), &error);
    QVERIFY2(m_keys, qPrintable(error));
    // Published in this order, the newest has the lower number: versions are never ordered.
    QVERIFY2(updateservice::publish(zipRequest(m_dir.path(), "2.1.0"), &error), qPrintable(error));
    PublishRequest installer = zipRequest(m_dir.path(), "2.0.9");
    installer.kind = updateservice::PackageKind::Installer;
    installer.buildPath += "/Quorvex.exe";
    installer.signingKeyPath = m_keys->secretKeyPath;
    QVERIFY2(updateservice::publish(installer, &error), qPrintable(error));
    m_catalogue = updateservice::ReleaseCatalogue::load(m_dir.filePath("releases"), &error);
    QVERIFY2(m_catalogue && m_catalogue->serveWith(m_service, &error), qPrintable(error));
    QVERIFY2(m_service.start(), qPrintable(m_service.startError()));
}

void TestUpdateService::releaseDescribesPackage_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("entries");
    QTest::addColumn<bool>("sign");

    // The updater makes folders only from their own entries, which must come first.
    QTest::newRow("zip") << "2.1.0"
                         << "quorvex_2.1.0/, quorvex_2.1.0/Quorvex.exe, "
                            "quorvex_2.1.0/config/, quorvex_2.1.0/config/client.json"
                         << false;
    QTest::newRow("installer, signed") << "2.0.9" << QString() << true;
}

void TestUpdateService::releaseDescribesPackage()
{
    QFETCH(QString, version);
    QFETCH(QString, entries);
    QFETCH(bool, sign);

    QString error;
    const auto release = updateservice::readRelease(m_dir.filePath("releases/" + version), &error);
    QVERIFY2(release, qPrintable(error));
    const QByteArray package = ClientFiles::read(release->packageFilePath());
    QStringList zipped;
    for (const auto& entry : QZipReader(release->packageFilePath()).fileInfoList()) {
        zipped << entry.filePath + (entry.isDir ? "/" : "");
    }
    QCOMPARE(zipped.join(", "), entries);
    QVERIFY(!entries.isEmpty() ||
            package == ClientFiles::read(m_dir.filePath(version + "/Quorvex.exe")));
    const QJsonObject& biz = release->biz;
    QCOMPARE(biz.value("md5").toString().toLatin1(),
             QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex());
    QCOMPARE(biz.value("packageSize").toInt(-1), package.size());
    // The static site offers the same release.
    const QByteArray site = ClientFiles::read(release->folder + "/site/www/check");
    QCOMPARE(QJsonDocument::fromJson(site)["biz"].toObject(), biz);
    const auto verdict =
        ReleaseSignature::verify(biz, ReleaseSignature::trustedKeys(m_keys->publicKey), 0);
    QVERIFY2(verdict.accepted == sign, qPrintable(verdict.reason));
}

void TestUpdateService::refusesAndLeavesNothing_data()
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

void TestUpdateService::refusesAndLeavesNothing()
{
    QFETCH(Arrangement, arrange);
    QFETCH(QString, message);
    QTemporaryDir dir;
    PublishRequest request = zipRequest(dir.path(), "2.1.0");
    arrange(request);
    const auto before = ClientFiles::tree(request.releasesDir);

    QString error;
    QVERIFY(!updateservice::publish(request, &error));

    QVERIFY2(error.contains(QRegularExpression(message)) && !error.contains('\n'),
             qPrintable(error));
    QCOMPARE(ClientFiles::tree(request.releasesDir), before);
}

void TestUpdateService::serves_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("checkBody"); // empty: a GET
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("check from the earlier release")
        << "/check" << QByteArray(R"({"clientVersion":"2.1.0"})") << QByteArray(R"("update":"1")");
    QTest::newRow("check from the newest release")
        << "/check" << QByteArray(R"({"clientVersion":"2.0.9"})") << QByteArray(R"("update":"0")");
    // Every package, so that downloads begun before a newer release still work.
    for (const Release& release : m_catalogue->releases()) {
        QTest::addRow("package %s", qPrintable(release.version()))
            << "/pack/" + release.id() << QByteArray()
            << ClientFiles::read(release.packageFilePath());
    }
}

void TestUpdateService::serves()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, checkBody);
    QFETCH(QByteArray, expected);
    QNetworkRequest request(QUrl(m_service.baseUrl() + path));
    std::unique_ptr<QNetworkReply> reply(checkBody.isEmpty() ? m_network.get(request)
                                                             : m_network.post(request, checkBody));
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);

    // A package goes out with its length, so nothing more can follow it.
    QVERIFY(reply->readAll().contains(expected));
}

// A second server on the port would take a share of the clients unnoticed.
void TestUpdateService::startFailsWhilePortIsTaken()
{
    updateservice::Options samePort;
    samePort.port = m_service.port();
    updateservice::UpdateService second;
    QVERIFY(!second.start(samePort));
    QVERIFY(second.startError().contains(QString::number(samePort.port)));
}

void TestUpdateService::keygenWritesOnce()
{
    const QByteArray secretKey = ClientFiles::read(m_keys->secretKeyPath);
    QString error;
    QVERIFY(!updateservice::writeKeyPair(m_dir.filePath("keys"), &error));
    QVERIFY2(error.contains("signing.key already exists"), qPrintable(error));
    QCOMPARE(ClientFiles::read(m_keys->secretKeyPath), secretKey);
    QCOMPARE(QFile::permissions(m_keys->secretKeyPath),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

QTEST_GUILESS_MAIN(TestUpdateService)
#include "tst_updateservice.moc"
