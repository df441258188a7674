#include "clientfiles.h"
#include "fakeupdateservice.h"
#include "install/installedfiles.h"
#include "install/packageunpacker.h"
#include "packagezip.h"
#include "publisher.h"
#include "releasecatalogue.h"
#include "signingkey.h"
#include "updatersandbox.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

// Changes the unpacked delta below its top folder; the answer then names the changed package.
using DeltaTamper = std::function<void(const QString& top)>;
Q_DECLARE_METATYPE(DeltaTamper)

// The built program in AutoUpdate/ of a stand-in client's folder, run as a user's machine runs it,
// against the update service on 127.0.0.1 offering releases published and signed as the project
// publishes them.
class TestProgram : public QObject, UpdaterSandbox
{
    Q_OBJECT

    std::optional<updateservice::KeyFiles> m_keys;
    std::unique_ptr<QTemporaryDir> m_releasesDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    // A folder on another volume than the sandbox's, made by a test that needs one.
    std::unique_ptr<QTemporaryDir> m_otherVolume;
    QVector<updateservice::Release> m_published;

    // A tmpfs apart from the sandbox's volume; the Wine session links it as drive D:.
    const QString kOtherVolume = QStringLiteral("/dev/shm");

#ifdef PROGRAM_UNDER_WINE
    // The Windows program of a Windows build under Wine in the build's prefix, its client in
    // C:/Program Files, where it copies and removes with "elevatecmd" through the stand-in
    // nircmd.exe beside it (with the stand-in tasklist.exe, and Wine's taskkill).
    const QString kProgramSuffix = QStringLiteral(".exe");
    // Windows knows no execute bits: Wine gives them to the programs it writes, .exe files, only.
    const bool kLibrariesExecutable = false;

    const QString kDriveC = qEnvironmentVariable("WINEPREFIX") + "/drive_c";

    QString programPath(const QString& path) const
    {
        if (path.startsWith(kOtherVolume + '/'))
            return "D:" + path.mid(kOtherVolume.size());
        return "C:" + path.mid(kDriveC.size());
    }

    void makeSandbox()
    {
        m_dir = std::make_unique<QTemporaryDir>(kDriveC + "/Program Files/Quorvex Client XXXXXX");
        // The one user profile of the prefix, named after the Linux user who made it.
        const QDir users(kDriveC + "/users");
        QStringList names = users.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        names.removeAll("Public");
        m_home = names.size() == 1 ? users.filePath(names.first()) : QString();
        m_clientDir = m_dir->path();
    }

    void installTools() const
    {
        for (const QString& tool : {QStringLiteral("nircmd.exe"), QStringLiteral("tasklist.exe")})
            QFile::copy(WINDOWS_PROGRAMS "/" + tool, m_clientDir + "/AutoUpdate/" + tool);
    }

    // The client moves to drive D:, the Wine session's link to the other volume, away from the
    // profile on C: that holds the backup.
    void separateBackupFromClient()
    {
        m_otherVolume = std::make_unique<QTemporaryDir>(kOtherVolume + "/Quorvex Client XXXXXX");
        QVERIFY(m_otherVolume->isValid());
        installClient(m_otherVolume->path());
    }

    QProcess* start(const QString& program, const QStringList& arguments)
    {
        return spawn(WINE_PROGRAM, QStringList{programPath(program)} + arguments);
    }

    // The stand-in nircmd.exe holds after its command, leaving "nircmd.held", while "nircmd.hold"
    // lies beside it: the updater and its copy are killed there.
    void killDuringCopy(const QString&)
    {
        killAfterHelper("");
    }

    // The updater is killed once its helper ran a command holding this text ("" for any).
    void killAfterHelper(const QByteArray& command)
    {
        const QString hold = m_clientDir + "/AutoUpdate/nircmd.hold";
        ClientFiles::write(hold, command);
        QProcess* updater = startUpdater({"-immediately"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_clientDir + "/AutoUpdate/nircmd.held"),
                                 kRunTimeoutMs);
        QProcess::execute(WINE_PROGRAM,
                          {"taskkill", "/f", "/im", "AutoUpdate.exe", "/im", "nircmd.exe"});
        updater->waitForFinished();
        QFile::remove(hold);
        QFile::remove(m_clientDir + "/AutoUpdate/nircmd.held");
    }

    void killAfterRemovalStep()
    {
        killAfterHelper("-removepaths");
    }

    // The per-user folders are the profile's own.
    void clearUserFolders() const
    {
        QDir(userFile("AutoUpdate")).removeRecursively();
        QDir(userFile("quorvexAssistant")).removeRecursively();
    }

    // The elevated side installs a client in Program Files itself, and no stand-in tool runs
    // within its install; the copy helper, whose runs the stand-in nircmd.exe holds, copies over
    // a client folder that needs no elevation, as one on D:.
    void useCopyHelper()
    {
        separateBackupFromClient();
    }
#else
    // The Linux program, its client in HOME, whose files are replaced without elevated rights.
    const QString kProgramSuffix;
    const bool kLibrariesExecutable = true;

    QString programPath(const QString& path) const
    {
        return path;
    }

    void makeSandbox()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = m_dir->filePath("home");
        m_clientDir = m_home + "/Apps/Quorvex";
        QDir().mkpath(m_dir->filePath("tmp"));
    }

    void installTools() const {}

    // The per-user folders, and so the backup, move to the other volume: the client stays in
    // HOME, where it needs no elevation.
    void separateBackupFromClient()
    {
        m_otherVolume = std::make_unique<QTemporaryDir>(kOtherVolume + "/quorvex-home-XXXXXX");
        QVERIFY(m_otherVolume->isValid());
        QVERIFY(QDir(m_home + "/AppData").removeRecursively());
        QVERIFY(QFile::link(m_otherVolume->path(), m_home + "/AppData"));
        QVERIFY(QDir().mkpath(userFile("quorvexAssistant")));
    }

    // Programs run with the sandbox's HOME and TMPDIR, and look for tools in its tools folder
    // first.
    QProcess* start(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& more = {})
    {
        QProcessEnvironment env = environment(m_dir->filePath("tmp"), m_dir->filePath("tools"));
        env.insert(more);
        return spawn(program, arguments, env);
    }

    // cp, as the copy over the client runs it, copies (but "before"), then kills the updater
    // that started it.
    void killDuringCopy(const QString& stage)
    {
        const QString script = "#!/bin/sh\n[ %1 = before ] || /bin/cp \"$@\"\nkill -9 $PPID\n";
        killInTool("cp", script.arg(stage).toUtf8());
    }

    // rm, as the removal of what an install added runs it, removes, then kills the updater.
    void killAfterRemovalStep()
    {
        killInTool("rm", "#!/bin/sh\n/bin/rm \"$@\"\nkill -9 $PPID\n");
    }

    // Runs the updater with a stand-in for a tool, the script given, which kills it.
    void killInTool(const QString& tool, const QByteArray& script)
    {
        const QString path = m_dir->filePath("tools/" + tool);
        ClientFiles::write(path, script);
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
        QProcess* updater = startUpdater({"-immediately"});
        QVERIFY(updater->waitForFinished(kRunTimeoutMs));
        QCOMPARE(updater->exitStatus(), QProcess::CrashExit);
        QFile::remove(path);
    }

    // Runs the updater with the library preloaded that kills it as it opens the file at path for
    // writing.
    void killOnWriting(const QString& path)
    {
        QProcessEnvironment kill;
        kill.insert("LD_PRELOAD", KILLONWRITE_LIBRARY);
        kill.insert("KILL_ON_WRITE_OPEN", path);
        QProcess* updater = start(m_clientDir + "/AutoUpdate/AutoUpdate", {"-immediately"}, kill);
        QVERIFY(updater->waitForFinished(kRunTimeoutMs));
        QCOMPARE(updater->exitStatus(), QProcess::CrashExit);
    }

    // The client in HOME needs no elevation: its install is the updater's own.
    void useCopyHelper() {}

    void clearUserFolders() const
    {
        clearInstanceGuard(m_dir->filePath("tmp"));
    }
#endif

    QProcess* startUpdater(const QStringList& arguments) override
    {
        return start(m_clientDir + "/AutoUpdate/AutoUpdate" + kProgramSuffix, arguments);
    }

    // Version 2.1.0, published and served. A zip release replaces the client's program (packed
    // without an execute bit, as packages made on Windows are) and its configuration, and adds a
    // file beside the program, one in a folder the client has and one in a folder of its own. An
    // installer release is the stand-in client, which records its start in the download folder.
    // moreFiles: files the release carries too, by their paths in the client folder.
    void offerRelease(PackageKind kind, const QMap<QString, QByteArray>& moreFiles = {},
                      const QString& version = "2.1.0")
    {
        const QString program = "QuorvexClient" + kProgramSuffix;
        const QString build = m_releasesDir->filePath("build/");
        for (auto file = moreFiles.begin(); file != moreFiles.end(); ++file)
            ClientFiles::write(build + file.key(), file.value());
        ClientFiles::write(m_clientDir + "/data files/old.txt", "kept");
        ClientFiles::write(build + program, ClientFiles::read(m_clientDir + '/' + program));
        ClientFiles::write(build + "added.txt", "added");
        ClientFiles::write(build + "config/client.json", ClientFiles::config(version));
        ClientFiles::write(build + "data files/read me.txt", "new release");
        ClientFiles::write(build + "plugins/plugin.dat", "new plugin");
        const QString releases = m_releasesDir->filePath("releases");
        const updateservice::Release release = publishBuild(
            kind == PackageKind::Zip ? build : build + program, version, releases, kind);
        QVERIFY(!release.folder.isEmpty());
        m_published.append(release);
        serveReleases(releases);
    }

    // The client's files of a release: the program, which changes by a trailer appended, a
    // library of other bytes here and there, its configuration, a file kept as it is, and one
    // file only the old release has and one only the new.
    QString writeDeltaBuild(const QString& version, bool isNew, const QString& folder = "build")
    {
        const QString build = m_releasesDir->filePath(folder + '-' + version + '/');
        const QString program = "QuorvexClient" + kProgramSuffix;
        QByteArray library = ClientFiles::randomBytes(300000, 7);
        if (isNew)
            library.replace(150000, 6, "2.1.0!");
        ClientFiles::write(build + program,
                           ClientFiles::read(FAKECLIENT_BINARY) + (isNew ? "release 2.1.0" : ""));
        ClientFiles::write(build + "lib/libquorvex.so", library);
        ClientFiles::write(build + "config/client.json", ClientFiles::config(version));
        ClientFiles::write(build + "data/same.txt", "unchanged");
        ClientFiles::write(build + (isNew ? "data/new.txt" : "data/old.txt"), version.toUtf8());
        const auto executable = QFile::permissions(FAKECLIENT_BINARY);
        QFile::setPermissions(build + program, executable);
        if (kLibrariesExecutable)
            QFile::setPermissions(build + "lib/libquorvex.so", executable);
        return build;
    }

    updateservice::Release publishBuild(const QString& build, const QString& version,
                                        const QString& releasesDir,
                                        PackageKind kind = PackageKind::Zip)
    {
        updateservice::PublishRequest request;
        request.kind = kind;
        request.buildPath = build;
        request.version = version;
        request.notesZh = QStringLiteral("修复了问题");
        request.notesEn = "Fixed issues";
        request.name = "QuorvexClient";
        request.releasesDir = releasesDir;
        request.signingKeyPath = m_keys->secretKeyPath;
        const auto release = updateservice::publish(request);
        if (!release) {
            qWarning() << release.error();
            return {};
        }
        return release.value();
    }

    void serveReleases(const QString& releasesDir)
    {
        const auto catalogue = updateservice::ReleaseCatalogue::load(releasesDir);
        if (!catalogue || !catalogue->serveWith(*m_service))
            qWarning() << "releases not served";
    }

    // The delta package at path, unpacked, tampered with and packed again, offered under its
    // name in place of the published one.
    DeltaOffer tamperedDelta(const QString& folder, DeltaOffer delta, const DeltaTamper& tamper)
    {
        const QString path = QDir(folder).filePath(delta.url);
        const QString unpacked = m_releasesDir->filePath("tampered/");
        QDir().mkpath(unpacked);
        PackageUnpacker(path, unpacked).unpack(qint64(1) << 30);
        const QString top = PackageUnpacker::topFolderName(path);
        tamper(unpacked + top);
        const QString repacked = unpacked + delta.url;
        if (!updateservice::writeFolderZip(unpacked + top, top, repacked))
            qWarning() << "not packed again:" << repacked;
        const QByteArray bytes = ClientFiles::read(repacked);
        delta.size = bytes.size();
        delta.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        m_service->addPackage(delta.url.toStdString(), bytes.toStdString());
        return delta;
    }

    // The client installed from release 2.0.3 (its updater folder aside), offered 2.1.0 with a
    // delta from it; both are signed.
    updateservice::Release offerDeltaRelease()
    {
        const QString releases = m_releasesDir->filePath("releases");
        const QString oldBuild = writeDeltaBuild("2.0.3", false);
        publishBuild(oldBuild, "2.0.3", releases);
        // As an install of 2.0.3 by the updater leaves it: with the list of the files it put there.
        if (!InstalledFiles::record(oldBuild, "AutoUpdate"))
            qWarning() << "no list of installed files";
        const QMap<QString, QByteArray> oldTree = ClientFiles::tree(QDir::cleanPath(oldBuild));
        for (auto file = oldTree.begin(); file != oldTree.end(); ++file) {
            if (file.key().endsWith('/'))
                continue;
            QFile::remove(m_clientDir + '/' + file.key());
            QDir().mkpath(QFileInfo(m_clientDir + '/' + file.key()).path());
            QFile::copy(oldBuild + file.key(), m_clientDir + '/' + file.key());
        }
        const updateservice::Release release =
            publishBuild(writeDeltaBuild("2.1.0", true), "2.1.0", releases);
        serveReleases(releases);
        return release;
    }

    // The client's files once the delta release is installed: the new build's. The file it drops
    // is gone, as the updater listed it when it installed 2.0.3.
    QMap<QString, QByteArray> deltaReleaseTree() const
    {
        return ClientFiles::tree(m_releasesDir->filePath("build-2.1.0"));
    }

    // The client's folder but for what the updater and the client keep in it.
    QMap<QString, QByteArray> clientTreeWithoutUpdater() const
    {
        return clientTree(QRegularExpression("^(AutoUpdate/|launches.jsonl$)"));
    }

    // The stand-in client of version 2.0.3 in folder, its updater beside it accepting only
    // releases signed by the test's key.
    void installClient(const QString& folder)
    {
        m_clientDir = folder;
        installClientAndUpdater(kProgramSuffix, programPath(m_clientDir) + "/", m_keys->publicKey);
        installTools();
    }

    // The client folder that installing the first release over one holding before leaves: every
    // file of the release's build, a replaced one keeping the permissions it had, and the
    // installed sequence beside the updater.
    QMap<QString, QByteArray> installedTree(QMap<QString, QByteArray> before) const
    {
        const QMap<QString, QByteArray> build = ClientFiles::tree(m_releasesDir->filePath("build"));
        for (auto file = build.begin(); file != build.end(); ++file)
            before.insert(file.key(), withContent(before.value(file.key(), file.value()),
                                                  contentOf(file.value())));
        before.insert("AutoUpdate/installedsequence.txt",
                      withContent(build.value("added.txt"), "1\n"));
        return before;
    }

    // The files the list of installed files names after the first release's install: the
    // build's and the installed sequence.
    QStringList installedList() const
    {
        QStringList files = ClientFiles::tree(m_releasesDir->filePath("build"))
                                .keys()
                                .filter(QRegularExpression("[^/]$"));
        files.append("AutoUpdate/installedsequence.txt");
        files.sort();
        return files;
    }

    // The client's tree (clientTree()) once its list of installed files is checked and taken out.
    void compareInstalledTree(const QMap<QString, QByteArray>& expected)
    {
        QMap<QString, QByteArray> installed = clientTree();
        QCOMPARE(ClientFiles::takeInstalledList(installed), installedList());
        QCOMPARE(installed, expected);
    }

    // The client folder's files but those left out, by default those of the elevated side's
    // staging folder, which holds its log and verdict after an install.
    QMap<QString, QByteArray> clientTree(
        const QRegularExpression& leftOut = QRegularExpression("^AutoUpdate/\\.staging/")) const
    {
        QMap<QString, QByteArray> tree = ClientFiles::tree(m_clientDir);
        for (auto entry = tree.begin(); entry != tree.end();)
            entry = leftOut.match(entry.key()).hasMatch() ? tree.erase(entry) : ++entry;
        return tree;
    }

    // A tree entry is the file's permissions, a space and its content.
    static QByteArray contentOf(const QByteArray& entry)
    {
        return entry.mid(entry.indexOf(' ') + 1);
    }
    static QByteArray withContent(const QByteArray& entry, const QByteArray& content)
    {
        return entry.left(entry.indexOf(' ') + 1) + content;
    }

    // Longer than the 260 characters of a Windows path once below the client or the download
    // folder.
    static QString deepPath(const QString& folder)
    {
        return QString("%1/%2/%3/more.txt").arg(folder, QString(100, 'n'), QString(120, 'm'));
    }

    // Read-only for everyone, as Windows' read-only attribute shows under Wine.
    static void makeReadOnly(const QString& path)
    {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup |
                                        QFile::ReadOther);
    }

    // The sizes the log line of the saved client files gives of the last install: the bytes
    // saved, and of those the bytes copied rather than moved.
    QPair<qint64, qint64> savedAndCopiedBytes() const
    {
        const QRegularExpression saved(
            "client files saved: \\d+ files, (\\d+) bytes, (\\d+) bytes copied");
        QRegularExpressionMatch match;
        for (auto found = saved.globalMatch(log()); found.hasNext();)
            match = found.next();
        if (!match.hasMatch())
            return {-1, -1};
        return {match.captured(1).toLongLong(), match.captured(2).toLongLong()};
    }

private slots:
    // A delta from the installed release installs exactly the new release's tree: contents,
    // modes, and the file the release drops removed. What makes the delta unusable before the
    // copy is logged and the full package installed in the same run, with the same outcome.
    void deltaInstalled_data()
    {
        QTest::addColumn<QString>("installedChange"); // a file of the client changed before
        QTest::addColumn<DeltaTamper>("tamper");
        QTest::addColumn<bool>("forged");    // the answer names a delta made for another release
        QTest::addColumn<QString>("reason"); // why the delta is not used; empty when it is
        const DeltaTamper untouched;
        // The library's patch or diff, whichever is smaller.
        const DeltaTamper flipPatchByte = [](const QString& top) {
            QString patch = top + "/diffs/lib/libquorvex.so";
            if (!QFile::exists(patch))
                patch = top + "/patches/lib/libquorvex.so";
            QByteArray bytes = ClientFiles::read(patch);
            QVERIFY(!bytes.isEmpty());
            bytes[bytes.size() / 2] = static_cast<char>(bytes.at(bytes.size() / 2) ^ 0x5a);
            ClientFiles::write(patch, bytes);
        };
        const DeltaTamper otherNewFile = [](const QString& top) {
            ClientFiles::write(top + "/files/data/new.txt", "9.9.9");
        };
        QTest::newRow("delta") << "" << untouched << false << "";
        QTest::newRow("changed installed file")
            << "lib/libquorvex.so" << untouched << false
            << "lib/libquorvex.so differs from the file the delta patches";
        QTest::newRow("corrupt patch") << "" << flipPatchByte << false << "lib/libquorvex.so";
        QTest::newRow("rebuilt file differs") << "" << otherNewFile << false << "data/new.txt";
        QTest::newRow("forged answer fields")
            << "" << untouched << true << "the delta's manifest is not the release's";
    }

    void deltaInstalled()
    {
        QFETCH(QString, installedChange);
        QFETCH(DeltaTamper, tamper);
        QFETCH(bool, forged);
        QFETCH(QString, reason);
        // The elevated side installs whole packages only: a delta needs a client folder the
        // updater changes itself.
        useCopyHelper();
        if (QTest::currentTestFailed())
            return;
        updateservice::Release release = offerDeltaRelease();
        QCOMPARE(release.offer.deltas.size(), 1);
        DeltaOffer& delta = release.offer.deltas[0];
        if (tamper)
            delta = tamperedDelta(release.folder, delta, tamper);
        if (forged) {
            // The same client changes, published as another 2.1.0 with another manifest: its
            // delta checks out against the installed files and its own digests.
            const QString build = writeDeltaBuild("2.1.0", true, "forged");
            ClientFiles::write(build + "data/same.txt", "forged");
            const QString elsewhere = m_releasesDir->filePath("forged");
            publishBuild(writeDeltaBuild("2.0.3", false, "forged"), "2.0.3", elsewhere);
            const updateservice::Release other = publishBuild(build, "2.1.0", elsewhere);
            QCOMPARE(other.offer.deltas.size(), 1);
            delta = other.offer.deltas[0];
            for (const QString& name : {delta.url, delta.planUrl})
                m_service->addPackage(
                    name.toStdString(),
                    ClientFiles::read(QDir(other.folder).filePath(name)).toStdString());
        }
        m_service->setCheckResponse(200, updateservice::checkAnswer(release, "").toStdString());
        if (!installedChange.isEmpty()) {
            QByteArray changed = ClientFiles::read(m_clientDir + '/' + installedChange);
            changed[100] = static_cast<char>(changed.at(100) ^ 1);
            ClientFiles::write(m_clientDir + '/' + installedChange, changed);
        }
        QVERIFY(QFile::exists(m_clientDir + "/data/old.txt"));

        QCOMPARE(runUpdater({"-immediately"}), QString());
        QTRY_COMPARE(ClientFiles::launches(m_clientDir).size(), 1);

        const QStringList deltaLines =
            QString::fromUtf8(log()).split("\r\n").filter(QRegularExpression("delta|differs"));
        const QString deltaLog = deltaLines.join('\n');
        QVERIFY2(deltaLog.contains("delta rebuilt:") == reason.isEmpty(), qPrintable(deltaLog));
        const QRegularExpression fallBack("delta not used: .*" +
                                          QRegularExpression::escape(reason) +
                                          ".* - downloading the full package");
        QVERIFY2(reason.isEmpty() ? !deltaLog.contains("delta not used")
                                  : deltaLog.contains(fallBack),
                 qPrintable(deltaLog));
        const auto expected = deltaReleaseTree();
        const auto installed = clientTreeWithoutUpdater();
        QCOMPARE(installed.keys(), expected.keys());
        for (const QString& path : expected.keys())
            QVERIFY2(installed.value(path) == expected.value(path), qPrintable(path));
        // The list of what was installed, whether its digests were read or taken from the
        // manifest the rebuild checked, names each file as it now is.
        const QJsonArray listed =
            QJsonDocument::fromJson(
                ClientFiles::read(m_clientDir + '/' + InstalledFiles::relativePath("AutoUpdate")))
                .object()
                .value("files")
                .toArray();
        QStringList paths;
        for (const QJsonValue& file : listed) {
            paths.append(file.toObject().value("path").toString());
            const QByteArray content =
                ClientFiles::read(m_clientDir + '/' + file.toObject().value("path").toString());
            QCOMPARE(
                file.toObject().value("sha256").toString(),
                QString(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
        }
        QVERIFY(paths.contains("data/new.txt") && paths.contains("lib/libquorvex.so"));
    }

#ifndef PROGRAM_UNDER_WINE
    // A delta install killed while it rebuilds the release in the download folder leaves the
    // client as it was; one killed during the copy, which cut off a patched file, is undone by
    // the next start. A start with no update offered then finds exactly the old tree, and the
    // next one installs the delta.
    void deltaInstallKilled_data()
    {
        QTest::addColumn<bool>("duringCopy");
        QTest::newRow("killed during the rebuild") << false;
        QTest::newRow("killed during the copy") << true;
    }

    void deltaInstallKilled()
    {
        QFETCH(bool, duringCopy);
        const updateservice::Release release = offerDeltaRelease();
        const std::string answer = updateservice::checkAnswer(release, "").toStdString();
        m_service->setCheckResponse(200, answer);
        const QMap<QString, QByteArray> before = clientTree();
        if (duringCopy) {
            killDuringCopy("during");
            ClientFiles::write(m_clientDir + "/lib/libquorvex.so", "");
        } else {
            // The patched files are written in the order of their paths, the copies beside them:
            // the library's patch comes after the configuration's.
            const QString rebuilt = userFile("AutoUpdate/QuorvexClient/") +
                                    PackageUnpacker::topFolderName(release.packageFile);
            killOnWriting(rebuilt + "/lib/libquorvex.so");
            QVERIFY(QFile::exists(rebuilt + "/config/client.json"));
        }
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(QFile::exists(userFile("AutoUpdate/install-journal.json")), duringCopy);

        m_service->setCheckResponse(200, kNothingOffered);
        QCOMPARE(runUpdater({}), QString());
        QTRY_COMPARE(ClientFiles::launches(m_clientDir), QList<QStringList>{{ "-autoupdate" }});
        QVERIFY(QFile::remove(m_clientDir + "/launches.jsonl"));
        QCOMPARE(clientTree(), before);

        m_service->setCheckResponse(200, answer);
        const int logSize = log().size();
        QCOMPARE(runUpdater({"-immediately"}), QString());
        QTRY_COMPARE(ClientFiles::launches(m_clientDir).size(), 1);
        QVERIFY2(log().mid(logSize).contains("delta rebuilt:"), log().mid(logSize).constData());
        QCOMPARE(clientTreeWithoutUpdater(), deltaReleaseTree());
    }
#endif

    // A client of version 2.0.3 whose updater accepts only releases signed by the test's key.
    void init()
    {
        m_releasesDir = std::make_unique<QTemporaryDir>();
        m_published.clear();
        const auto keys = updateservice::writeKeyPair(m_releasesDir->filePath("keys"));
        QVERIFY2(keys, qPrintable(keys.error()));
        m_keys = keys.value();
        m_service = std::make_unique<FakeUpdateService>();
        QVERIFY(m_service->start());
        makeSandbox();
        QVERIFY(m_dir->isValid() && !m_home.isEmpty());
        clearUserFolders();
        installClient(m_clientDir);
        QDir().mkpath(userFile("quorvexAssistant"));
    }

    void cleanup()
    {
        endProcesses();
        clearUserFolders();
        m_otherVolume.reset();
    }

    // The running client is stopped, the package is copied over the installation folder, and the
    // client is started with the arguments it was given.
    void zipPackageInstalled()
    {
        offerRelease(PackageKind::Zip);
        QProcess* running = start(m_clientDir + "/QuorvexClient" + kProgramSuffix, {"--linger"});
        QTRY_VERIFY(QFile::exists(m_clientDir + "/launches.jsonl"));

        // Chinese text reaches the client unchanged, whatever the system's code page.
        QCOMPARE(runUpdater({"-immediately", QStringLiteral("会议室/123")}), QString());
        QTRY_COMPARE(running->state(), QProcess::NotRunning);
        QTRY_COMPARE(ClientFiles::launches(m_clientDir),
                     QList<QStringList>{{QStringLiteral("会议室/123")}});
        // Every line of the log file ends with "\r\n", on every system.
        QVERIFY(log().contains(" copy file successed\r\n"));
        QVERIFY(!QString(log()).contains(QRegularExpression("[^\r]\n")));
    }

    void installerStarted()
    {
        offerRelease(PackageKind::Installer);
        QCOMPARE(runUpdater({"-immediately", "-noremid", "x"}), QString());
        QTRY_COMPARE(ClientFiles::launches(userFile("AutoUpdate/QuorvexClient")),
                     QList<QStringList>{{"x"}});
        QVERIFY(ClientFiles::launches(m_clientDir).isEmpty());
    }

    // The signed sequence of the installed release is kept beside the client too: with the
    // user's record gone, an older signed release offered again is still refused.
    void rollbackRefused()
    {
        offerRelease(PackageKind::Zip);
        QCOMPARE(runUpdater({"-immediately"}), QString());
        offerRelease(PackageKind::Zip, {}, "2.2.0");
        QCOMPARE(runUpdater({"-immediately"}), QString());
        QTRY_COMPARE(ClientFiles::launches(m_clientDir).size(), 2);
        QVERIFY(QFile::remove(userFile("AutoUpdate/installedsequence.txt")));
        m_service->setCheckResponse(
            200, updateservice::checkAnswer(m_published.first(), "2.2.0").toStdString());

        QCOMPARE(runUpdater({}), QString());
        QTRY_COMPARE(ClientFiles::launches(m_clientDir).size(), 3);
        QVERIFY(log().contains("sequence 1 is lower than 2"));
        QCOMPARE(ClientFiles::read(m_clientDir + "/config/client.json"),
                 ClientFiles::config("2.2.0"));
    }

#ifdef PROGRAM_UNDER_WINE
    // A client in Program Files is installed by the updater beside it, run elevated, from its own
    // copy of the package. The journal and the backup never lie in the profile, and the staging
    // folder keeps nothing of the install but its log and verdict.
    void elevatedInstall()
    {
        offerRelease(PackageKind::Zip);
        const QMap<QString, QByteArray> before = clientTree();
        const QString pause = m_clientDir + "/AutoUpdate/nircmd.pause";
        const QString paused = m_clientDir + "/AutoUpdate/nircmd.paused";
        ClientFiles::write(pause, "-installpackage");
        QProcess* updater = startUpdater({"-immediately"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(paused), kRunTimeoutMs);
        QVERIFY(!QFile::exists(userFile("AutoUpdate/install-journal.json")));
        QVERIFY(QFile::remove(pause) && QFile::remove(paused));

        QVERIFY(updater->waitForFinished(kRunTimeoutMs));
        QCOMPARE(updater->exitCode(), 0);
        QTRY_COMPARE(ClientFiles::launches(m_clientDir), QList<QStringList>{{ "-autoupdate" }});
        QVERIFY(QFile::remove(m_clientDir + "/launches.jsonl"));
        QVERIFY(log().contains("elevated install verdict: 0"));
        compareInstalledTree(installedTree(before));
        QVERIFY(!QFile::exists(userFile("AutoUpdate/install-journal.json")));
        QCOMPARE(QDir(m_clientDir + "/AutoUpdate/.staging")
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({"elevated.log", "verdict"}));
    }
#endif

    // A release that carries the whole updater folder: the running program and the tools the
    // copy needs are replaced while they run, a read-only file like any other, a file at a path
    // longer than Windows' old limit too, and the configuration keeps this installation's appPath
    // while it takes the release's keys. So on both roads of the backup: moving the client's
    // files, and copying them where the backup lies on another volume. The next start runs the
    // new updater, which hands over to the client and clears what the copy set aside.
    void releaseCarriesUpdater_data()
    {
        QTest::addColumn<bool>("otherVolume");
        QTest::newRow("backup by moving") << false;
        QTest::newRow("backup by copying") << true;
    }

    void releaseCarriesUpdater()
    {
        QFETCH(bool, otherVolume);
        if (otherVolume)
            separateBackupFromClient();
        if (QTest::currentTestFailed())
            return;
        const QString updater = m_clientDir + "/AutoUpdate/";
        const QString program = "AutoUpdate" + kProgramSuffix;
        ClientFiles::write(updater + "readme.txt", "old notes");
        makeReadOnly(updater + "readme.txt");
        QJsonObject config =
            QJsonDocument::fromJson(ClientFiles::read(updater + "updateconfig.json")).object();
        QJsonObject released = config;
        released["appPath"] = "C:/Program Files/Vendor Build/";
        released["updateCheckUrl"] = released["updateCheckUrl"].toString() + "?from=2.1.0";
        QMap<QString, QByteArray> carried{
            {"AutoUpdate/" + program, ClientFiles::read(updater + program) + "release 2.1.0"},
            {"AutoUpdate/readme.txt", "new notes"},
            {deepPath("AutoUpdate/notes"), "deep"},
            {"AutoUpdate/updateconfig.json", QJsonDocument(released).toJson()}};
        for (const QString& tool : QDir(updater).entryList({"*.exe"}))
            carried.insert("AutoUpdate/" + tool, ClientFiles::read(updater + tool));
        offerRelease(PackageKind::Zip, carried);
        QMap<QString, QByteArray> expected = installedTree(clientTree());
        released["appPath"] = config["appPath"];
        expected["AutoUpdate/updateconfig.json"] = withContent(
            expected.value("AutoUpdate/updateconfig.json"), QJsonDocument(released).toJson());

        QCOMPARE(runUpdater({"-immediately"}), QString());
        QTRY_COMPARE(ClientFiles::launches(m_clientDir), QList<QStringList>{{"-autoupdate"}});
        QVERIFY(QFile::remove(m_clientDir + "/launches.jsonl"));
        // The updater's own files are copied on either road; the client's are moved where they
        // can be.
        const auto [saved, copied] = savedAndCopiedBytes();
        QVERIFY2(saved > 0 && copied > 0, log().right(2000).constData());
        QCOMPARE(copied == saved, otherVolume);
        m_service->setCheckResponse(200, kNothingOffered);
        QCOMPARE(runUpdater({}), QString());
        QTRY_COMPARE(ClientFiles::launches(m_clientDir), QList<QStringList>{{"-autoupdate"}});
        QVERIFY(QFile::remove(m_clientDir + "/launches.jsonl"));
        compareInstalledTree(expected);
    }

    // The copy fails on a folder standing where the package has a file, or the updater and its copy
    // are killed. A failed copy is undone at once (under Wine by the elevated side) while the run
    // waits with its retry; a killed one by the next start, with no update offered. The client
    // folder ends as it was, file by file.
    void interruptedInstallRestored_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("copy fails") << "fails";
        QTest::newRow("killed during the copy") << "during";
#ifndef PROGRAM_UNDER_WINE
        QTest::newRow("killed before the copy") << "before";
        QTest::newRow("killed after the copy") << "after";
#endif
    }

    void interruptedInstallRestored()
    {
        QFETCH(QString, stage);
        if (stage != "fails")
            useCopyHelper();
        if (QTest::currentTestFailed())
            return;
        offerRelease(PackageKind::Zip);
        if (stage == "fails")
            ClientFiles::write(m_clientDir + "/data files/read me.txt/kept.txt", "in the way");
        const QMap<QString, QByteArray> before = clientTree();
        if (stage == "fails") {
            QProcess* updater = startUpdater({"-immediately"});
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("client folder restored:"), kRunTimeoutMs);
            QVERIFY(log().contains("copy file error: "));
            QCOMPARE(updater->state(), QProcess::Running);
#ifdef PROGRAM_UNDER_WINE
            QVERIFY(ClientFiles::read(m_clientDir + "/AutoUpdate/.staging/verdict").endsWith(" 1"));
            QVERIFY(!QFile::exists(userFile("AutoUpdate/install-journal.json")));
#endif
        } else {
            killDuringCopy(stage);
            if (QTest::currentTestFailed())
                return;
            if (stage == "during") // as a copy cut off while it wrote a file
                ClientFiles::write(m_clientDir + "/config/client.json", "");
            QVERIFY(QFile::exists(userFile("AutoUpdate/install-journal.json")));
            m_service->setCheckResponse(200, kNothingOffered);
            QCOMPARE(runUpdater({}), QString());
            QTRY_COMPARE(ClientFiles::launches(m_clientDir), QList<QStringList>{{"-autoupdate"}});
            QVERIFY(!QFile::exists(userFile("AutoUpdate/install-journal.json")));
            QVERIFY(QFile::remove(m_clientDir + "/launches.jsonl"));
        }
        QCOMPARE(clientTree(), before);
    }

    // A failed install whose restore is cut off after it removed what the copy added: the
    // journal and the backup stay, and the next start restores the client folder, a read-only
    // file and one at a long path included, before it installs the release again.
    void interruptedRestoreRetried()
    {
        useCopyHelper();
        if (QTest::currentTestFailed())
            return;
        const QString readOnly = m_clientDir + "/data files/read me.txt";
        ClientFiles::write(readOnly, "old release");
        makeReadOnly(readOnly);
        ClientFiles::write(m_clientDir + '/' + deepPath("data files"), "old deep");
        offerRelease(PackageKind::Zip, {{deepPath("data files"), "new deep"}});
        const QMap<QString, QByteArray> expected = installedTree(ClientFiles::tree(m_clientDir));
        // A folder where the release has a file fails the copy.
        const QString obstacle = m_clientDir + "/plugins/plugin.dat";
        ClientFiles::write(obstacle + "/kept.txt", "in the way");

        killAfterRemovalStep();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(log().contains("copy file error: "));
        QVERIFY(!log().contains("client folder restored:"));
        QVERIFY(QFile::exists(userFile("AutoUpdate/install-journal.json")));
        QVERIFY(!QFile::exists(m_clientDir + "/added.txt"));
        QVERIFY(QDir(obstacle).removeRecursively());

        const int logSize = log().size();
        QCOMPARE(runUpdater({"-immediately"}), QString());
        QTRY_COMPARE(ClientFiles::launches(m_clientDir), QList<QStringList>{{"-autoupdate"}});
        QVERIFY(QFile::remove(m_clientDir + "/launches.jsonl"));
        const QByteArray run = log().mid(logSize);
        const int restored = run.indexOf("client folder restored:");
        QVERIFY2(restored >= 0 && restored < run.indexOf("client files saved:"), run.constData());
        QVERIFY(!QFile::exists(userFile("AutoUpdate/install-journal.json")));
        compareInstalledTree(expected);
    }

#ifndef PROGRAM_UNDER_WINE
    void secondInstanceEndsAtOnce()
    {
        m_service->setHoldChecks(true);
        QProcess* first = startUpdater({});
        QTRY_COMPARE_WITH_TIMEOUT(m_service->requestCount(), size_t(1), 10000);

        QProcess* second = startUpdater({});
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(static_cast<signed char>(second->exitCode()), -1);
        QVERIFY(QString::fromLocal8Bit(second->readAllStandardError()).contains("App is run"));

        m_service->setHoldChecks(false);
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(first->exitCode(), 0);
        QTRY_COMPARE(ClientFiles::launches(m_clientDir).size(), 1);
    }
#endif
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
