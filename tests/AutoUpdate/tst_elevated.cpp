#include "checkanswer.h"
#include "clientfiles.h"
#include "install/installedfiles.h"
#include "release/releasesignature.h"
#include "updatersandbox.h"
#include "zipbuilder.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
const QString kStaging = "AutoUpdate/.staging";
const QString kPackageName = "QuorvexClient_2.1.0.zip";

// The content of every file below folder by its relative path, links by their targets, the
// staging folder left out: what an install may change.
QMap<QString, QByteArray> contents(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = it.next().mid(folder.size() + 1);
        if (!name.startsWith(kStaging + '/'))
            files.insert(name, it.fileInfo().isSymLink()
                                   ? "-> " + it.fileInfo().symLinkTarget().toUtf8()
                                   : ClientFiles::read(it.filePath()));
    }
    return files;
}

bool chown(const QString& path, uid_t user)
{
    return ::lchown(QFile::encodeName(path).constData(), user, user) == 0;
}

QList<pid_t> processesOf(const QString& program)
{
    QList<pid_t> found;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (isPid && QFileInfo("/proc/" + entry + "/exe").symLinkTarget() == program)
            found.append(pid);
    }
    return found;
}

} // namespace

// The updater run by an ordinary user ("nobody") over a client folder that only root may change:
// the install crosses to the elevated side through pkexec, here a set-uid stand-in that runs the
// command as root, and runs a hook first, as the user, while the prompt would show. Whatever the
// user changes meanwhile, or planted before, never reaches the client folder.
class TestElevated : public QObject, UpdaterSandbox
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_outside;
    ReleaseSignature::KeyPair m_keys;
    QMap<QString, QByteArray> m_release;
    QByteArray m_package;
    CheckAnswer m_answer;

    QString tool(const QString& name) const { return m_root.filePath("tools/" + name); }
    // The lines of the log from the elevated side's, for a failure's message.
    QByteArray elevatedLog() const { return log().mid(log().indexOf("elevated: ") - 60); }
    QString staged(const QString& name) const { return m_clientDir + '/' + kStaging + '/' + name; }

    // Version 2.1.0 of the client: its configuration, a changed file, a file and a folder added,
    // and as many more files as asked, each path with the bytes the client folder is to get.
    ZipBuilder release(int extraFiles)
    {
        m_release = {{"config/client.json", ClientFiles::config("2.1.0")},
                     {"data files/read me.txt", "new release"},
                     {"plugins/plugin.dat", "new plugin"}};
        for (int i = 0; i < extraFiles; ++i)
            m_release.insert(QString("more/file %1.dat").arg(i),
                             QByteArray(512, char('a' + i % 26)));
        ZipBuilder zip;
        QStringList folders;
        for (auto file = m_release.cbegin(); file != m_release.cend(); ++file) {
            const QString folder = "QuorvexClient_2.1.0/" + file.key().section('/', 0, -2) + '/';
            if (!folders.contains(folder))
                zip.directory((folders << folder).last());
            zip.deflated("QuorvexClient_2.1.0/" + file.key(), file.value());
        }
        return zip;
    }

    // Serves the package with an answer signed by the installed key.
    void offer(const QByteArray& package)
    {
        m_package = package;
        m_answer = CheckAnswer();
        m_answer.forPackage(package);
        m_answer.offer.url = "https://cdn.invalid/r/" + kPackageName;
        m_answer.offer.sha256 =
            QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex();
        m_answer.offer.sequence = 1;
        QVERIFY(ReleaseSignature::sign(m_answer.offer, m_keys.secretKey));
        m_service->addPackage(m_answer.offer.id.toStdString(), package.toStdString());
        m_service->setCheckResponse(200, m_answer.toStdString());
    }

    // The hook the stand-in runs as the user, with the updater and its arguments: $4 is the
    // downloaded package, $5 the answer handed over.
    void setPromptHook(const QString& script)
    {
        ClientFiles::write(tool("prompt-hook"), ("#!/bin/sh\n" + script + '\n').toUtf8());
        QFile::setPermissions(tool("prompt-hook"), QFile::permissions(tool("prompt-hook")) |
                                                       QFile::ExeOwner | QFile::ExeOther);
    }

    QProcess* startUpdater(const QStringList& arguments) override
    {
        QProcessEnvironment env = environment(m_root.filePath("tmp"), m_root.filePath("tools"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return spawn("setpriv",
                     QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                 m_clientDir + "/AutoUpdate/AutoUpdate"} +
                         arguments,
                     env);
    }

    void makeFolder(const QString& path, uid_t owner, QFile::Permissions mode)
    {
        QDir().mkpath(path);
        QVERIFY(chown(path, owner));
        QVERIFY(QFile::setPermissions(path, mode));
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("runs the updater as nobody and installs a set-uid stand-in for pkexec: needs "
                  "root");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("needs setpriv to run the updater as nobody");
        m_keys = ReleaseSignature::generateKeyPair();
    }

    // A client of 2.0.3 in a folder of root's, the updater beside it trusting the test's key; the
    // user's profile and temporary folder are nobody's.
    void init()
    {
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(m_root.path(), open));
        m_home = m_root.filePath("home");
        m_clientDir = m_root.filePath("client");
        m_outside = m_root.filePath("outside");
        QDir(m_clientDir).removeRecursively();
        QDir(m_home).removeRecursively();
        QDir(m_outside).removeRecursively();
        makeFolder(m_home, kNobody, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        makeFolder(m_root.filePath("tmp"), kNobody,
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        makeFolder(m_root.filePath("tools"), 0, open);
        QFile::remove(tool("pkexec"));
        QFile::remove(tool("prompt-hook"));
        QVERIFY(QFile::copy(PKEXEC_STANDIN, tool("pkexec")));
        QVERIFY(::chmod(QFile::encodeName(tool("pkexec")).constData(), 04755) == 0);
        makeFolder(m_clientDir + "/AutoUpdate", 0, open);
        m_service = std::make_unique<FakeUpdateService>();
        QVERIFY(m_service->start());
        QVERIFY(installClientAndUpdater("", m_clientDir + "/", m_keys.publicKey.toBase64()));
        ClientFiles::write(m_clientDir + "/data files/read me.txt", "old release");
        ClientFiles::write(m_clientDir + "/data files/old.txt", "kept");
        ClientFiles::write(m_outside + "/sentinel.txt", "sentinel");
        QDir().mkpath(userFile("quorvexAssistant"));
        QDirIterator it(m_home, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY(chown(it.next(), kNobody));
    }

    void cleanup()
    {
        endProcesses();
        m_service.reset();
        clearInstanceGuard(m_root.filePath("tmp"));
    }

    // What the user does while the prompt shows, or planted earlier where the elevated side works:
    // a change to the package or the answer refuses the install, with the client folder as it
    // was; a link or foreign entry in the staging folder is removed, never written through.
    void install_data()
    {
        QTest::addColumn<QString>("hook");    // run as the user while the prompt shows
        QTest::addColumn<QString>("plant");   // laid in the staging folder before the run
        QTest::addColumn<QString>("refusal"); // a regular expression; empty: installed
        const QString forged = "cp \"$4.forged\" \"$4\"; ";
        const QString rewrite =
            "sed -i -e 's/\"md5\": \"[0-9a-f]*\"/\"md5\": \"'$(md5sum < \"$4\" | "
            "cut -c1-32)'\"/' -e 's/\"packageSize\": [0-9]*/\"packageSize\": '$(stat -c "
            "%s \"$4\")'/' -e 's/\"sha256\": \"[0-9a-f]*\"/\"sha256\": \"'$(sha256sum < "
            "\"$4\" | cut -c1-64)'\"/' \"$5\"";
        const auto row = [](const char* name, const QString& hook, const char* plant,
                            const char* refusal) {
            QTest::newRow(name) << hook << QString(plant) << QString(refusal);
        };
        row("installed", "", "", "");
        row("package replaced", forged, "", "package (MD5|holds|longer)");
        row("package grown", "echo more >> \"$4\"", "", "package longer than");
        row("package of the same size changed", "printf X | dd of=\"$4\" conv=notrunc", "",
            "package MD5 differs");
        row("package and answer's digests replaced", forged + rewrite, "", "does not verify");
        row("answer unsigned", "sed -i -e '/\"signature\"/d' -e '/\"keyId\"/d' \"$5\"", "",
            "not signed|not configured");
        row("answer offers nothing", "sed -i 's/\"update\": \"1\"/\"update\": \"0\"/' \"$5\"", "",
            "offers no zip");
        row("answer is a FIFO", "rm \"$5\"; mkfifo \"$5\"", "", "answer cannot be read");
        row("staging folder is a link", "", "folder link", "");
        row("links in the staging folder", "", "links", "");
        row("staging folder of the user's", "", "user's folder", "");
        row("file the last install listed", "", "last install's list", "");
    }

    void install()
    {
        QFETCH(QString, hook);
        QFETCH(QString, plant);
        QFETCH(QString, refusal);
        offer(release(0).bytes());
        if (plant == "last install's list") {
            // Installed by an earlier release, which the new one drops.
            QTemporaryDir last;
            ClientFiles::write(last.path() + "/share/dropped.txt", "only in 2.0.3");
            ClientFiles::write(m_clientDir + "/share/dropped.txt", "only in 2.0.3");
            QVERIFY(InstalledFiles::record(last.path(), "AutoUpdate"));
            QVERIFY(QFile::copy(last.path() + '/' + InstalledFiles::relativePath("AutoUpdate"),
                                m_clientDir + '/' + InstalledFiles::relativePath("AutoUpdate")));
        }
        QMap<QString, QByteArray> expected = contents(m_clientDir);
        const QMap<QString, QByteArray> before = expected;
        expected.remove("share/dropped.txt");
        expected.remove(InstalledFiles::relativePath("AutoUpdate"));
        for (auto file = m_release.cbegin(); file != m_release.cend(); ++file)
            expected.insert(file.key(), file.value());
        expected.insert("AutoUpdate/installedsequence.txt", "1\n");
        // A package that adds a file of the user's choice, ready beside the downloaded one.
        setPromptHook(hook);
        if (hook.contains(".forged"))
            setPromptHook(QString("printf '%1' | base64 -d > \"$4.forged\"; ")
                              .arg(QString(release(0)
                                               .file("QuorvexClient_2.1.0/evil.txt", "evil")
                                               .bytes()
                                               .toBase64())) +
                          hook);
        const QString staging = m_clientDir + '/' + kStaging;
        if (plant == "folder link")
            QVERIFY(QFile::link(m_outside, staging));
        if (plant == "user's folder") {
            makeFolder(staging, kNobody, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            ClientFiles::write(staging + "/install-journal.json", "{}");
            QVERIFY(chown(staging + "/install-journal.json", kNobody));
        }
        if (plant == "links") {
            QDir().mkpath(staging);
            const QStringList written{"verdict",      "verdict.alive",        "elevated.log",
                                      "install.lock", "install-journal.json", "install-backup",
                                      "work"};
            for (const QString& name : written)
                QVERIFY(QFile::link(m_outside + "/sentinel.txt", staging + '/' + name));
        }

        // A refused install leaves the run waiting for the user's retry.
        if (refusal.isEmpty()) {
            QCOMPARE(runUpdater({"-immediately"}), QString());
        } else {
            startUpdater({"-immediately"});
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("elevated install verdict: 1"), kRunTimeoutMs);
        }
        QCOMPARE(ClientFiles::read(m_outside + "/sentinel.txt"), QByteArray("sentinel"));
        QCOMPARE(QDir(m_outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"sentinel.txt"});
        QVERIFY2(QFileInfo(staging).isDir() && !QFileInfo(staging).isSymLink(),
                 qPrintable(staging));
        QCOMPARE(QFileInfo(staging).ownerId(), 0u);
        QVERIFY(log().contains("elevated: "));
        if (refusal.isEmpty()) {
            QVERIFY2(log().contains(" copy file successed\r\n"), elevatedLog().constData());
            QMap<QString, QByteArray> installed = contents(m_clientDir);
            QStringList listed = m_release.keys();
            listed.append("AutoUpdate/installedsequence.txt");
            listed.sort();
            QCOMPARE(ClientFiles::takeInstalledList(installed), listed);
            QCOMPARE(installed, expected);
            QCOMPARE(ClientFiles::read(userFile("AutoUpdate/installedsequence.txt")), "1\n");
            QCOMPARE(ClientFiles::read(userFile("quorvexAssistant/isShowUpdataInfo.txt")), "1");
        } else {
            QVERIFY2(QString(log()).contains(QRegularExpression(
                         "elevated: .*elevated install refused: .*(" + refusal + ")")),
                     elevatedLog().constData());
            QCOMPARE(contents(m_clientDir), before);
        }
        QVERIFY(QFileInfo::exists(staged("verdict")));
        QVERIFY(!QFileInfo::exists(staged("install-journal.json")));
    }

    // The elevated side killed while it installs leaves its journal and backup where only it can
    // write: the next start runs it again to put the client folder back before anything else.
    void killedInstallRestored()
    {
        offer(release(3000).bytes());
        const QMap<QString, QByteArray> before = contents(m_clientDir);
        QProcess* updater = startUpdater({"-immediately"});
        const QString journal = staged("install-journal.json");
        QElapsedTimer waited;
        waited.start();
        while (!QFileInfo::exists(journal) && !waited.hasExpired(kRunTimeoutMs))
            QThread::usleep(500);
        for (const pid_t pid : processesOf(m_clientDir + "/AutoUpdate/AutoUpdate"))
            ::kill(pid, SIGKILL);
        QVERIFY(updater->waitForFinished(kRunTimeoutMs));
        QVERIFY2(QFileInfo::exists(journal), "the install ended before it was killed");

        m_service->setCheckResponse(200, kNothingOffered);
        QCOMPARE(runUpdater({}), QString());
        QVERIFY2(log().contains("elevated: ") && log().contains("client folder restored:"),
                 elevatedLog().constData());
        QCOMPARE(contents(m_clientDir), before);
        QVERIFY(!QFileInfo::exists(journal));
    }
};

QTEST_GUILESS_MAIN(TestElevated)
#include "tst_elevated.moc"
