#include "base/userpaths.h"
#include "checkanswer.h"
#include "clientfiles.h"
#include "clientrun.h"
#include "fakeplatform.h"
#include "fakeupdateservice.h"
#include "global.h"
#include "httpdownloadfile.h"
#include "install/clientbackup.h"
#include "install/zipinstall.h"
#include "testhome.h"
#include "windows/dwondialog.h"
#include "zipbuilder.h"

#include <QDockWidget>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

using PackageMaker = std::function<ZipBuilder()>;
Q_DECLARE_METATYPE(PackageMaker)
// Changes what the service's answer says of the good package.
using OfferChange = std::function<void(ReleaseOffer&)>;
Q_DECLARE_METATYPE(OfferChange)

namespace {
// Free space as the fake system reports it unless a row says otherwise.
constexpr qint64 plenty = qint64(1) << 40;
const QString kTop = QStringLiteral("QuorvexClient_2.1.0");
const QString kCorrupted = QStringLiteral("File conrrupted, update failed.");

// A release of the client: it replaces its configuration and a file, and adds an executable, a
// compressed file and a file large enough to fill a small disk and to arrive in several parts.
// As many zip tools write them, its subfolders have no entries of their own.
ZipBuilder goodPackage(const QString& version = "2.1.0")
{
    return ZipBuilder()
        .directory(kTop + "/")
        .file(kTop + "/config/client.json", ClientFiles::config(version))
        .file(kTop + "/bin/app.dat", "new app")
        .file(kTop + "/bin/helper", "#!/bin/sh\n", 0100755)
        .deflated(kTop + "/bin/data.txt", QByteArray("data ").repeated(100))
        .file(kTop + "/large.dat", QByteArray(400 * 1024, 'z'));
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

// A package downloaded from a local service by the network client on a worker thread, the dialogs
// on this one and "-immediately" skipping the prompt, then unpacked beside itself and copied over
// the client by a fake that really copies, so the version read back decides as on a user's
// machine.
class TestPackage : public QObject
{
    Q_OBJECT

    const QByteArray m_package = goodPackage().bytes();
    CheckAnswer m_answer;
    std::optional<TestHome> m_home;
    std::optional<FakePlatform> m_platform;
    std::optional<FakeUpdateService> m_service;
    std::optional<ClientRun> m_run;
    QString packDir() const { return UserPaths::updaterDir() + "/QuorvexClient"; }
    QString packagePath() const { return packDir() + "/" + kTop + ".zip"; }
    QString client() const { return m_home->path() + "/client"; }
    QStringList clientStarts() const { return m_platform->calls("start"); }

    // Serves a good package, announced by m_answer, to a run of the network client.
    void download(const FakeUpdateService::Delivery& delivery = {})
    {
        m_service->addPackage("77", m_package.toStdString(), delivery);
        m_service->setCheckResponse(200, m_answer.toStdString());
        m_run.emplace();
    }

private slots:
    void init()
    {
        m_answer = CheckAnswer();
        m_answer.forPackage(m_package).offer.notes = QStringLiteral("中文&Fixes");
        m_home.emplace();
        m_platform.emplace();
        m_service.emplace();
        QVERIFY(m_service->start());
        QDir().mkpath(UserPaths::clientDataDir());
        ClientFiles::write(client() + "/config/client.json", ClientFiles::config("2.0.3"));
        ClientFiles::write(client() + "/bin/app.dat", QByteArray(800 * 1024, 'o'));
        ClientFiles::write(client() + "/AutoUpdate/kept.txt", "not in the package");
        ClientFiles::write(client() + "/AutoUpdate/updateconfig.json",
                           QJsonDocument(QJsonObject{{"appConfigFile", "config/client.json"},
                                                     {"appPath", client() + "/"}})
                               .toJson());
        QDir::setCurrent(client() + "/AutoUpdate");
        g_global.m_runEnd.Reset();
        g_global.m_appName = "QuorvexClient.exe";
        g_global.m_appPath = client() + "/";
        g_global.m_appConfigFile = "config/client.json";
        g_global.m_currentVersion = "2.0.3";
        g_global.m_updateCheckUrl = QString::fromStdString(m_service->checkUrl());
        g_global.m_getPackUrl = QString::fromStdString(m_service->packageUrl());
        g_global.m_language = "en";
        g_global.m_args = QStringList{"-immediately"};
    }

    void cleanup()
    {
        // A copy still held would keep the worker thread from ending.
        m_platform->releaseCopies();
        m_service->releaseStalls();
        m_run.reset();
        m_service.reset();
        QDir::setCurrent(QDir::tempPath());
        m_platform.reset();
        m_home.reset();
    }

    // Whatever fails, the client folder is left holding exactly what it held, nothing is written
    // through a link or left unpacked, nothing announces the new version, no journal or backup
    // stays behind, and why is logged. Hostile packages are refused whole before any copy.
    void installFails_data()
    {
        QTest::addColumn<QString>("logged"); // a regular expression
        QTest::addColumn<PackageMaker>("make");
        // The folder that lies on a disk smaller than the package or the client's large file.
        QTest::addColumn<QString>("smallDisk");
        QTest::addColumn<qint64>("freeSpace"); // as the system reports it
        QTest::addColumn<bool>("unpackedStays");
        QTest::addColumn<bool>("copied"); // and put back from the backup
        // A link out of the extraction folder waits, so a write through it shows; a tree that
        // unpacks around it holds a link, which no install takes.
        QTest::addColumn<bool>("linkBeside");
        using E = ZipBuilder::Entry;
        const auto row = [=](const char* name, const char* reason, const PackageMaker& make,
                             qint64 freeSpace = plenty) {
            QTest::newRow(name) << QString("^package refused.*") + reason << make << QString()
                                << freeSpace << false << false << true;
        };
        row("empty name", "has no name", adding(""));
        row("absolute", "absolute", adding("/tmp/evil.txt"));
        row("drive letter", "drive", adding("C:/evil.txt"));
        row("backslash parent", "climbs", adding(kTop + "\\..\\..\\x"));
        row("control character", "control character", adding(kTop + "/a\tb"));
        row("through a link on disk", "link", adding(kTop + "/linked/x"));
        row("outside the top folder", "top folder", adding("Other/x"));
        row("duplicate", "exists", adding(kTop + "/bin/app.dat"));
        row("duplicate once cleaned", "repeats", adding(kTop + "/bin/./app.dat"));
        row("method 14", "method 14", lying(&E::method, 14));
        row("encrypted", "encrypted", lying(&E::flags, 0x0801));
        row("CRC mismatch", "CRC", lying(&E::crc, 1));
        row("offset of another entry", "local header's sizes 0 ", lying(&E::offset, 0));
        // libzip compares neither header's flags; the encryption bit is one of them.
        row("local flags", "x\" \"its local header's flags 0x0000 ", lying(&E::localFlags, 0));
        row("encrypted locally", "local header's flags 0x0801 ", lying(&E::localFlags, 0x0801));
        row("local method", "local header's compression method 8 ", lying(&E::localMethod, 8));
        row("local size", "local header's sizes 5 ", lying(&E::localSize, 5));
        row("local packed size", "local header's sizes 10 .5 packed",
            lying(&E::localStoredSize, 5));
        row("corrupt deflate stream", "cannot be unpacked", lying(&E::method, 8));
        row("inflates past its size", "declared size", lying(&E::size, 1024, true));
        row("declares 2 GiB", "100 times", lying(&E::size, 0x7fffffff));
        // The extra file alone takes all the room.
        row("more than the free space", "bytes free", adding(kTop + "/big", QByteArray(65536, 'x')),
            65536);
        row("no files", "holds no files", [] { return ZipBuilder().directory(kTop + "/"); });
        const PackageMaker good = [] { return goodPackage(); };
        QTest::newRow("full disk while unpacking")
            << "^unzip " << good << "unpack" << plenty << false << false << true;
        QTest::newRow("link left in the unpack folder")
            << "^package refused: linked is a symbolic link" << good << QString() << plenty << true
            << false << true;
        QTest::newRow("full disk while saving the client")
            << "^client file not saved:" << good << "backup" << plenty << true << false << false;
        QTest::newRow("copy names another version")
            << "^files replace error" << PackageMaker([] { return goodPackage("2.0.9"); })
            << QString() << plenty << true << true << false;
        // The updater's configuration a release carries (tst_program installs one that is taken),
        // where the next start could not work with it.
        const QString config = kTop + "/AutoUpdate/updateconfig.json";
        QTest::newRow("carried configuration not JSON")
            << "^package refused: .*no JSON object" << adding(config, "{appPath") << QString()
            << plenty << true << false << false;
        const QJsonObject unusable{{"appConfigFile", "config/client.json"},
                                   {"appPath", "C:/Program Files/Quorvex/"},
                                   {"publicKey", "not a key"}};
        QTest::newRow("carried publicKey not usable")
            << "^installed configuration not usable"
            << adding(config, QJsonDocument(unusable).toJson()) << QString() << plenty << true
            << true << false;
    }

    void installFails()
    {
        QFETCH(QString, logged);
        QFETCH(PackageMaker, make);
        QFETCH(QString, smallDisk);
        QFETCH(qint64, freeSpace);
        QFETCH(bool, unpackedStays);
        QFETCH(bool, copied);
        QFETCH(bool, linkBeside);
        if (!smallDisk.isEmpty() &&
            !m_home->mountSmallDisk(
                smallDisk == "unpack" ? packDir() : ClientBackup::backupFolder(), 600))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        QTemporaryDir outside;
        QDir().mkpath(packDir() + "/" + kTop);
        QVERIFY(!linkBeside || QFile::link(outside.path(), packDir() + "/" + kTop + "/linked"));
        QVERIFY(make().write(packagePath()));
        m_platform->setFreeSpace(freeSpace);
        // The files beside the package; folders left empty do no harm.
        const auto files = [this] {
            return ClientFiles::tree(packDir()).keys().filter(QRegularExpression("[^/]$"));
        };
        const QStringList beside = files();
        const QMap<QString, QByteArray> before = ClientFiles::tree(client());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(logged));

        QCOMPARE(ZipInstall().DecompressionReplac(packagePath(), m_answer.offer), -1);
        QCOMPARE(ClientFiles::tree(client()), before);
        // Refused, or cut off while unpacking: nothing unpacked stays.
        QVERIFY(unpackedStays || files() == beside);
        QVERIFY(QDir(outside.path()).isEmpty());
        // Put back from the backup by the same copy as the install's.
        const QStringList copies = m_platform->calls("copy");
        QCOMPARE(copies.size(), copied ? 2 : 0);
        QVERIFY(!copied ||
                copies.last() == "copy " + ClientBackup::backupFolder() + ' ' + client());
        QVERIFY(!QFileInfo::exists(UserPaths::notesMarker()));
        QVERIFY(!QFileInfo::exists(ClientBackup::journalPath()));
        QVERIFY(ClientFiles::tree(ClientBackup::backupFolder()).isEmpty());
    }

    // A restore removes what the package added before it puts the saved files back, so that a
    // volume the copy filled has room for them. One that cannot finish keeps the journal and the
    // backup, from which the next start restores.
    void unfinishedRestoreKeptForTheNextStart()
    {
        m_platform->failCopy(2);
        QDir().mkpath(packDir());
        QVERIFY(goodPackage("2.0.9").write(packagePath()));
        const QMap<QString, QByteArray> before = ClientFiles::tree(client());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^restore failed, file differs:"));

        QCOMPARE(ZipInstall().DecompressionReplac(packagePath(), m_answer.offer), -1);
        QVERIFY(QFileInfo::exists(ClientBackup::journalPath()));
        QCOMPARE(ClientFiles::read(ClientBackup::backupFolder() + "/bin/app.dat"),
                 QByteArray(800 * 1024, 'o'));
        QVERIFY(ClientBackup::restoreInterruptedInstall());
        QCOMPARE(ClientFiles::tree(client()), before);
        QVERIFY(!QFileInfo::exists(ClientBackup::journalPath()));
        // The install's copy, then for each restore its removal and its copy.
        const QStringList calls = m_platform->calls("(copy|remove)");
        QCOMPARE(calls.size(), 5);
        QVERIFY(calls.at(1).startsWith("remove ") && calls.at(3).startsWith("remove "));
    }

    // The journal an install left, which anyone who can write to the profile can write too, while
    // the restore may run elevated. One that names another folder, a path that could leave the
    // client folder, an elevation the folder does not need, or too much, is set aside as it is,
    // with the backup beside it, and nothing is acted on: files outside the client and a foreign
    // backup folder stay. (Paths are checked as a package's are, above.)
    void tamperedJournalSetAside_data()
    {
        QTest::addColumn<QByteArray>("journal"); // "@client@", "@backup@", "@outside@": the folders
        QTest::addColumn<QString>("reason");     // a regular expression
        // Written plainly: moc misreads a raw string that ends in a quote.
        const auto journal = [](const char* client, const char* backup, const char* elevate,
                                const QByteArray& added) {
            return QByteArray("{\"clientFolder\":\"") + client + "\",\"backupFolder\":\"" + backup +
                   "\",\"elevate\":" + elevate + ",\"saved\":[\"config/client.json\"],\"added\":[" +
                   added + "],\"addedFolders\":[]}";
        };
        const auto row = [&journal](const char* name, const char* client, const char* backup,
                                    const char* elevate, const QByteArray& added,
                                    const QString& reason) {
            QTest::newRow(name) << journal(client, backup, elevate, added) << reason;
        };
        row("climbs out", "@client@", "@backup@", "false", R"("../../../outside/sentinel.txt")",
            R"("added" path 0 climbs out with "\.\.")");
        row("NUL in the backup folder", "@client@", "@client@\\u0000/backup", "false", "",
            "names another backup folder");
        row("foreign client folder", "@outside@", "@backup@", "false", R"("sentinel.txt")",
            "names another client folder");
        row("foreign backup folder with files", "@client@", "@outside@/backup", "false", "",
            "names another backup folder");
        row("elevation the folder does not need", "@client@", "@backup@", "true", "",
            "asks for elevation the client folder does not need");
        QTest::newRow("over 8 MiB")
            << journal("@client@", "@backup@", "false", "") + QByteArray(9 << 20, ' ')
            << R"(holds \d+ bytes, more than 8388608)";
        row("over 1,000,000 paths", "@client@", "@backup@", "false",
            QByteArray(R"("a",)").repeated(1000000) + R"("a")",
            "names 1000002 paths, more than 1000000");
    }

    void tamperedJournalSetAside()
    {
        QFETCH(QByteArray, journal);
        QFETCH(QString, reason);
        const QString outside = m_home->path() + "/outside";
        const QDir updater(UserPaths::updaterDir());
        ClientFiles::write(outside + "/sentinel.txt", "sentinel");
        ClientFiles::write(outside + "/backup/stray.txt", "not ours");
        ClientFiles::write(ClientBackup::backupFolder() + "/config/client.json",
                           ClientFiles::config("1.0.0"));
        journal.replace("@client@", client().toUtf8())
            .replace("@backup@", ClientBackup::backupFolder().toUtf8())
            .replace("@outside@", outside.toUtf8());
        ClientFiles::write(ClientBackup::journalPath(), journal);
        const QMap<QString, QByteArray> before = ClientFiles::tree(client());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^install journal rejected: " +
                                                              reason + ".*; set aside as "));

        QVERIFY(ClientBackup::restoreInterruptedInstall());
        const QStringList journals = updater.entryList({"install-journal*"});
        QCOMPARE(journals.size(), 1);
        QVERIFY(journals.first().startsWith("install-journal.rejected-"));
        QCOMPARE(ClientFiles::read(updater.filePath(journals.first())), journal);
        const QStringList backups = updater.entryList({"install-backup*"});
        QCOMPARE(backups.size(), 1);
        QCOMPARE(ClientFiles::read(updater.filePath(backups.first() + "/config/client.json")),
                 ClientFiles::config("1.0.0"));
        QCOMPARE(ClientFiles::read(outside + "/sentinel.txt"), QByteArray("sentinel"));
        QCOMPARE(ClientFiles::read(outside + "/backup/stray.txt"), QByteArray("not ours"));
        QCOMPARE(ClientFiles::tree(client()), before);
    }

    // The package is neither used nor kept, and the user may retry.
    void downloadFails_data()
    {
        QTest::addColumn<OfferChange>("change");
        QTest::addColumn<qint64>("stallAfter"); // bytes; 0: the whole package comes
        QTest::addColumn<bool>("smallDisk");    // the download folder's disk is full
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("packageLeft"); // the package file stays until a retry
        const OfferChange same = [](ReleaseOffer&) {};
        const QString network = "Installation failed. Network exception, please check.";
        QTest::newRow("md5 in upper case")
            << OfferChange([](ReleaseOffer& offer) { offer.md5 = offer.md5.toUpper(); })
            << qint64(0) << false << kCorrupted << "md5 check filed" << true;
        QTest::newRow("installer of another sha256") << OfferChange([](ReleaseOffer& offer) {
            offer.updateType = 0;
            offer.sha256 = QString(64, 'a');
        }) << qint64(0) << false << kCorrupted << "md5 check filed"
                                                     << true;
        QTest::newRow("longer than announced")
            << OfferChange([](ReleaseOffer& offer) { offer.packageSize -= 1; }) << qint64(0)
            << false << kCorrupted << "longer than announced" << false;
        QTest::newRow("disk full")
            << same << qint64(0) << true << kCorrupted << "write failed:" << true;
        // A burst, then nothing: the bar shows the share that arrived.
        QTest::newRow("stall") << same << qint64(100000) << false << network << "TimerOut" << true;
    }

    void downloadFails()
    {
        QFETCH(OfferChange, change);
        QFETCH(qint64, stallAfter);
        QFETCH(bool, smallDisk);
        QFETCH(QString, error);
        QFETCH(QString, logged);
        QFETCH(bool, packageLeft);
        FakeUpdateService::Delivery delivery;
        if (stallAfter > 0)
            delivery.stallAfter = stallAfter;
        change(m_answer.offer);
        if (smallDisk && !m_home->mountSmallDisk(packDir(), 128))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(logged));
        download(delivery);
        QSignalSpy progress(m_run->client(), &HttpDownLoadFile::UpdateBar);
        QSignalSpy errors(m_run->progressDialog(), &DwonDialog::ErrSignal);

        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 15000);
        QCOMPARE(errors.first().first().toString(), error);
        QVERIFY(clientStarts().isEmpty());
        QVERIFY(m_platform->calls("copy").isEmpty());
        QCOMPARE(QFileInfo::exists(packagePath()), packageLeft);
        if (stallAfter > 0) {
            QVERIFY(!progress.isEmpty());
            QCOMPARE(progress.last().at(0).toLongLong(), stallAfter);
        }
    }

    // Before any download: a failing service, or an answer longer than any answer of the
    // service's, hands over to the client at once.
    void failedCheck_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("server error") << 500 << CheckAnswer().toJson();
        QTest::newRow("answer over 1 MiB")
            << 200 << CheckAnswer().toJson().append(QByteArray(1 << 20, ' '));
    }

    void failedCheck()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        m_service->setCheckResponse(status, body.toStdString());
        m_run.emplace();
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts().size(), 1, 10000);
        QCOMPARE(m_service->requestCount(), size_t(1));
    }

    // A retry after a dropped download starts afresh. Once the copy over the client has begun,
    // neither the close button nor a confirmed cancel stops it: the client is started when it
    // is done.
    void retryThenCancelWhileInstalling()
    {
        FakeUpdateService::Delivery drop;
        drop.dropAfter = 5000;
        download(drop);
        DwonDialog* dialog = m_run->progressDialog();
        QSignalSpy errors(dialog, &DwonDialog::ErrSignal);
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 15000);
        ClientFiles::write(packDir() + "/old-folder/old-package.zip", "old");
        m_service->addPackage("77", m_package.toStdString());
        m_platform->holdNextCopy();
        emit dialog->GetPackAgain();
        QTRY_COMPARE_WITH_TIMEOUT(m_platform->calls("copy").size(), 1, 15000);
        QVERIFY(!QFile::exists(packDir() + "/old-folder"));
        QCOMPARE(ClientFiles::read(packagePath()), m_package);
        QTRY_VERIFY(!dialog->findChild<QPushButton*>("cancleBtn")->isEnabled());

        dialog->close();
        QVERIFY(!dialog->findChild<QDockWidget*>("dockWidget")->isVisible());
        dialog->findChild<QPushButton*>("sbtn")->click();
        QVERIFY(!g_global.m_runEnd.IsEnded());
        m_platform->releaseCopies();

        QTRY_COMPARE_WITH_TIMEOUT(clientStarts().size(), 1, 15000);
        QVERIFY(clientStarts().first().endsWith(" -autoupdate"));
        QVERIFY(g_global.m_runEnd.IsEnded());
        QCOMPARE(ClientFiles::read(client() + "/bin/data.txt"), QByteArray("data ").repeated(100));
        QCOMPARE(ClientFiles::read("kept.txt"), QByteArray("not in the package"));
        QVERIFY(QFileInfo(client() + "/bin/helper").permissions().testFlag(QFile::ExeOwner));
        QVERIFY(!QFileInfo(client() + "/bin/app.dat").permissions().testFlag(QFile::ExeOwner));
        QCOMPARE(ClientFiles::read(UserPaths::clientDataDir() + "/update.log"),
                 QByteArray("Fixes"));
        QCOMPARE(ClientFiles::read(UserPaths::notesMarker()), QByteArray("1"));
    }
};

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
