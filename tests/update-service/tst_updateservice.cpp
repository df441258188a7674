#include "clientfiles.h"
#include "publisher.h"
#include "release/releasesignature.h"
#include "releasecatalogue.h"
#include "signingkey.h"
#include "steps.h"
#include "updateservice.h"

#include <QtGui/private/qzipreader_p.h>
#include <QtNetwork>
#include <QtTest>

#include <functional>

using updateservice::inTurn;
using updateservice::PublishRequest;

// Turns a valid request, or the files it names, into a faulty one.
using Arrangement = std::function<void(PublishRequest& request)>;
Q_DECLARE_METATYPE(Arrangement)
// What a second start() asks for, given the port of the service already running.
using StartOptions = std::function<updateservice::Options(int servingPort)>;
Q_DECLARE_METATYPE(StartOptions)

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

// A release that differs from the one before in a few bytes of its program, adds a file and
// drops another; or, when rebuilt, has a program of other bytes altogether.
PublishRequest nextRelease(const QString& root, const QString& version, int deltas, bool rebuilt)
{
    PublishRequest request = zipRequest(root, version);
    QByteArray program = ClientFiles::randomBytes(200000, rebuilt ? 99 : 1);
    program.replace(1000, version.size(), version.toUtf8());
    ClientFiles::write(request.buildPath + "/Quorvex.exe", program);
    ClientFiles::write(request.buildPath + "/notes/" + version + ".txt", version.toUtf8());
    request.name = "q";
    request.deltas = deltas;
    return request;
}

} // namespace

// update-service's publish and keygen, and the server that serve runs, on two releases.
class TestUpdateService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    updateservice::KeyFiles m_keys;
    updateservice::UpdateService m_service;
    QNetworkAccessManager m_network;

    // What the service answers to a GET of path, or to a POST of checkBody.
    QByteArray fetch(const QString& path, const QByteArray& checkBody = {})
    {
        const QScopedPointer<QNetworkReply> reply(
            m_network.sendCustomRequest(QNetworkRequest(QUrl(m_service.baseUrl() + path)),
                                        checkBody.isEmpty() ? "GET" : "POST", checkBody));
        QSignalSpy(reply.data(), &QNetworkReply::finished).wait(30000);
        return reply->readAll();
    }

private slots:
    void initTestCase()
    {
        const auto keys = updateservice::writeKeyPair(m_dir.filePath("keys"));
        QVERIFY2(keys, qPrintable(keys.error()));
        m_keys = keys.value();
        PublishRequest installer = zipRequest(m_dir.path(), "2.0.9");
        installer.kind = PackageKind::Installer;
        installer.buildPath += "/Quorvex.exe";
        installer.signingKeyPath = m_keys.secretKeyPath;
        // Published in this order, the newest has the lower number: versions are never ordered.
        for (const PublishRequest& request : {zipRequest(m_dir.path(), "2.1.0"), installer}) {
            const auto release = updateservice::publish(request);
            QVERIFY2(release, qPrintable(release.error()));
        }
        const auto catalogue = updateservice::ReleaseCatalogue::load(m_dir.filePath("releases"));
        QVERIFY2(catalogue, qPrintable(catalogue.error()));
        const Outcome started = inTurn([&] { return catalogue->serveWith(m_service); },
                                       [&] { return m_service.start(); });
        QVERIFY2(started, qPrintable(started.error()));
    }

    // An updater's configuration in the build folder whose appPath names the build machine's
    // folder is published, with a warning.
    void appPathWarning_data()
    {
        QTest::addColumn<QString>("appPath");
        QTest::addColumn<int>("warnings");
        QTest::newRow("drive letter") << "C:/Program Files/Quorvex/" << 1;
        QTest::newRow("Unix root") << "/opt/quorvex/" << 1;
        QTest::newRow("relative") << "../" << 0;
    }

    void appPathWarning()
    {
        QFETCH(QString, appPath);
        const QTemporaryDir root;
        const PublishRequest request = zipRequest(root.path(), "3.0.0");
        ClientFiles::write(request.buildPath + "/AutoUpdate/updateconfig.json",
                           QJsonDocument(QJsonObject{{"appPath", appPath}}).toJson());
        const auto release = updateservice::publish(request);
        QVERIFY2(release, qPrintable(release.error()));
        QTEST(int(release->warnings.size()), "warnings");
    }

    // The release as published, and as serve offers it to a client running its version.
    void published_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("entries");
        QTest::addColumn<bool>("sign");
        QTest::addColumn<QString>("update");

        // Each folder has an entry of its own, before the files in it, as unzip tools expect.
        QTest::newRow("zip") << "2.1.0"
                             << "quorvex_2.1.0/, quorvex_2.1.0/Quorvex.exe, "
                                "quorvex_2.1.0/config/, quorvex_2.1.0/config/client.json"
                             << false << "1";
        QTest::newRow("installer, signed, newest") << "2.0.9" << QString() << true << "0";
    }

    void published()
    {
        QFETCH(QString, version);
        QFETCH(QString, entries);
        QFETCH(bool, sign);
        QFETCH(QString, update);
        const auto release = updateservice::readRelease(m_dir.filePath("releases/" + version));
        QVERIFY2(release, qPrintable(release.error()));
        const QByteArray package = ClientFiles::read(release->packageFilePath());
        QStringList zipped;
        for (const auto& entry : QZipReader(release->packageFilePath()).fileInfoList()) {
            zipped << entry.filePath + (entry.isDir ? "/" : "");
        }
        QCOMPARE(zipped.join(", "), entries);
        QVERIFY(!entries.isEmpty() ||
                package == ClientFiles::read(m_dir.filePath(version + "/Quorvex.exe")));
        QCOMPARE(release->offer.md5.toLatin1(),
                 QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex());
        QCOMPARE(release->offer.packageSize, package.size());
        const auto verdict = ReleaseSignature::verify(
            release->offer, ReleaseSignature::trustedKeys(m_keys.publicKey), 0);
        QVERIFY2(verdict.ok() == sign, qPrintable(verdict.error()));

        // Every package is served, so that downloads begun before a newer release still work.
        QCOMPARE(fetch("/pack/" + release->id()), package);
        const QByteArray check = QJsonDocument(QJsonObject{{"clientVersion", version}}).toJson();
        QCOMPARE(QJsonDocument::fromJson(fetch("/check", check))["biz"]["update"].toString(),
                 update);
    }

    void refusesAndLeavesNothing_data()
    {
        QTest::addColumn<Arrangement>("arrange");
        QTest::addColumn<QString>("message");

        QTest::newRow("configuration names another version")
            << Arrangement([](PublishRequest& r) { r.version = "2.1.1"; })
            << "names client version \"2.1.0\", not \"2.1.1\"";
        // Refused while zipping, after the release has begun to take shape.
        QTest::newRow("file of 2 GiB") << Arrangement([](PublishRequest& r) {
            QFile huge(r.buildPath + "/huge.dat");
            QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(Q_INT64_C(1) << 31));
        }) << "huge.dat is larger than a package may be \\(2 GiB\\)$";
        QTest::newRow("published before")
            << Arrangement([](PublishRequest& r) { QVERIFY(updateservice::publish(r)); })
            << "^release 2.1.0 already exists in ";
    }

    void refusesAndLeavesNothing()
    {
        QFETCH(Arrangement, arrange);
        QFETCH(QString, message);
        QTemporaryDir dir;
        PublishRequest request = zipRequest(dir.path(), "2.1.0");
        arrange(request);
        const auto before = ClientFiles::tree(request.releasesDir);

        const auto published = updateservice::publish(request);
        QVERIFY(!published);

        const QString error = published.error();
        QVERIFY2(error.contains(QRegularExpression(message)) && !error.contains('\n'),
                 qPrintable(error));
        QCOMPARE(ClientFiles::tree(request.releasesDir), before);
    }

    void startRefuses_data()
    {
        QTest::addColumn<bool>("again");
        QTest::addColumn<StartOptions>("options");
        QTest::addColumn<QString>("message");

        using updateservice::Options;
        QTest::newRow("already running") << true << StartOptions([](int) { return Options{}; })
                                         << "^the service is already running$";
        QTest::newRow("port taken") << false << StartOptions([](int servingPort) {
            Options options;
            options.port = servingPort;
            return options;
        }) << "^cannot listen on 127.0.0.1 port \\d+: the port is taken";
        QTest::newRow("certificate not PEM") << false << StartOptions([this](int) {
            Options options;
            options.tls = true;
            options.certificateFile = options.privateKeyFile = m_keys.publicKeyPath;
            return options;
        }) << "^the TLS certificate or private key cannot be used$";
    }

    // A start that cannot serve says why and leaves the running service serving.
    void startRefuses()
    {
        QFETCH(bool, again);
        QFETCH(StartOptions, options);
        QFETCH(QString, message);
        updateservice::UpdateService other;

        const Outcome started = (again ? m_service : other).start(options(m_service.port()));

        QVERIFY(!started);
        QVERIFY2(started.error().contains(QRegularExpression(message)),
                 qPrintable(started.error()));
        const QByteArray check = QJsonDocument(QJsonObject{{"clientVersion", "1.0"}}).toJson();
        QCOMPARE(QJsonDocument::fromJson(fetch("/check", check))["biz"]["update"].toString(),
                 QString("1"));
    }

    // Deltas from the latest releases of the client before, each with its plan beside it, on the
    // static site too and named by the answer; none when turned off or saving too little. (The
    // updater's tests download and check them.)
    void deltasPublished_data()
    {
        QTest::addColumn<int>("deltas");
        QTest::addColumn<bool>("rebuilt");
        QTest::addColumn<QStringList>("offeredFrom");
        QTest::newRow("default") << 3 << false << QStringList{"1.3", "1.2", "1.1"};
        QTest::newRow("turned off") << 0 << false << QStringList{};
        QTest::newRow("above 60 %") << 3 << true << QStringList{};
    }

    void deltasPublished()
    {
        QFETCH(int, deltas);
        QFETCH(bool, rebuilt);
        const QTemporaryDir root;
        for (const char* version : {"1.0", "1.1", "1.2", "1.3"})
            QVERIFY(updateservice::publish(nextRelease(root.path(), version, 0, false)));
        const auto release =
            updateservice::publish(nextRelease(root.path(), "1.4", deltas, rebuilt));
        QVERIFY2(release, qPrintable(release.error()));

        QStringList offeredFrom;
        const QDir folder(release->folder);
        for (const DeltaOffer& delta : release->offer.deltas) {
            offeredFrom.append(delta.fromVersion);
            QVERIFY(delta.size * 100 <= release->offer.packageSize * 60);
            QVERIFY(folder.exists(delta.planUrl));
            QCOMPARE(ClientFiles::read(folder.filePath("site/www/pack/" + delta.url)),
                     ClientFiles::read(folder.filePath(delta.url)));
        }
        QTEST(offeredFrom, "offeredFrom");
        QCOMPARE(folder.entryList({"*_from_*"}).size(), 2 * offeredFrom.size());
        const QJsonObject biz =
            QJsonDocument::fromJson(updateservice::checkAnswer(release.value(), QString()))["biz"]
                .toObject();
        QCOMPARE(biz.value("deltas").toArray().size(), offeredFrom.size());
    }

    void keygenWritesOnce()
    {
        const QByteArray secretKey = ClientFiles::read(m_keys.secretKeyPath);
        const auto again = updateservice::writeKeyPair(m_dir.filePath("keys"));
        QVERIFY(!again);
        QVERIFY2(again.error().contains("signing.key already exists"), qPrintable(again.error()));
        QCOMPARE(ClientFiles::read(m_keys.secretKeyPath), secretKey);
        QCOMPARE(QFile::permissions(m_keys.secretKeyPath),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }
};

QTEST_GUILESS_MAIN(TestUpdateService)
#include "tst_updateservice.moc"
