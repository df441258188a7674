#include "checkanswer.h"
#include "fakeplatform.h"
#include "global.h"
#include "logcapture.h"
#include "testhome.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kUserState = QStringLiteral("AppData/Roaming/AutoUpdate/updateconfig.json");

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson();
}

// A null content leaves the path absent; "<dir>" puts a folder in the file's place.
void put(const QString& path, const QByteArray& content)
{
    if (content.isNull())
        return;
    QDir().mkpath(content == "<dir>" ? path : QFileInfo(path).absolutePath());
    QFile file(path);
    if (content != "<dir>" && file.open(QIODevice::WriteOnly))
        file.write(content);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

// Every case runs in a profile folder of its own, from a program folder holding the installed
// configuration, with a client installed in a third folder.
class TestGlobal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void config_data();
    void config();
    void writers_data();
    void writers();
    void versionInfo_data();
    void versionInfo();
    void processCheck_data();
    void processCheck();
    void relaunchEndsTheRunOnce();
    void cancelOrInstallation_data();
    void cancelOrInstallation();
    void installerStart();
    void volumeLackingSpace_data();
    void volumeLackingSpace();

private:
    QString clientConfigPath() const { return m_clientDir->filePath("config/client.json"); }
    QStringList startedPrograms() const;

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<QTemporaryDir> m_programDir;
    std::unique_ptr<QTemporaryDir> m_clientDir;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<Global> m_global;
    QString m_previousDir;
};

void TestGlobal::init()
{
    m_home = std::make_unique<TestHome>();
    m_programDir = std::make_unique<QTemporaryDir>();
    m_clientDir = std::make_unique<QTemporaryDir>();
    m_platform = std::make_unique<FakePlatform>();
    m_global = std::make_unique<Global>();
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_programDir->path());
    QDir().mkpath(m_home->updaterDir());
    m_global->m_appName = "Client.exe";
    m_global->m_appPath = m_clientDir->path() + "/";
    m_global->m_appConfigFile = "config/client.json";
    m_global->m_latestVersion = "2.1.0";
}

// Each start as "program arguments...", "~" standing for the client's folder.
QStringList TestGlobal::startedPrograms() const
{
    QStringList lines;
    for (const FakePlatform::Start& start : m_platform->starts())
        lines.append(start.program + ' ' + start.arguments.join(' '));
    lines.replaceInStrings(m_clientDir->path(), "~");
    return lines;
}

void TestGlobal::cleanup()
{
    QDir::setCurrent(m_previousDir);
    QLocale::setDefault(QLocale::c());
    m_global.reset();
    m_platform.reset();
    m_clientDir.reset();
    m_programDir.reset();
    m_home.reset();
}

// Each row replaces one of the files GetConfig reads; the others hold the installed
// configuration, client version 2.0.3, reminders off for 2.1.0 and language "en".
void TestGlobal::config_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QLocale::Language>("locale");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("read");    // "<version>|<noRemind> <noRemindVersion>|<language>"
    QTest::addColumn<QString>("logLine"); // "~" stands for the profile folder

    const QByteArray none;
    const auto zh = QLocale::Chinese;
    const QString noLog;
    const QString stateLine = "\"~/" + kUserState + "\" ";
    QTest::newRow("installed missing") << "installed" << none << zh << -1 << "|1 2.1.0|"
                                       << "DEBUG updateconfig.json open failed:";
    QTest::newRow("installed not JSON")
        << "installed" << QByteArray("{\"appName\":") << zh << -1 << "|1 2.1.0|"
        << "DEBUG  Auto Jsondata Error:";
    QTest::newRow("client missing") << "client" << none << zh << -1 << "|1 2.1.0|" << noLog;
    QTest::newRow("client not JSON") << "client" << QByteArray("{") << zh << -1 << "|1 2.1.0|"
                                     << "DEBUG  APP Jsondata Error:";
    QTest::newRow("client without version")
        << "client" << QByteArray(R"({"client":{}})") << zh << 0 << "|1 2.1.0|en" << noLog;
    QTest::newRow("state missing") << "state" << none << zh << 0 << "2.0.3|0 |en"
                                   << "WARNING " + stateLine + " not exists";
    QTest::newRow("state not JSON")
        << "state" << QByteArray("noRemind=1") << zh << 0 << "2.0.3|0 |en"
        << "DEBUG " + stateLine + " Jsondata Error: 5";
    QTest::newRow("noRemind true")
        << "state" << QByteArray(R"({"noRemind":true,"noRemindVersion":"2.1.0"})") << zh << 0
        << "2.0.3|0 2.1.0|en" << noLog;
    QTest::newRow("noRemind as text")
        << "state" << QByteArray(R"({"noRemind":"1","noRemindVersion":"2.1.0"})") << zh << 0
        << "2.0.3|0 2.1.0|en" << noLog;
    QTest::newRow("language with line break")
        << "language" << QByteArray("en\n") << zh << 0 << "2.0.3|1 2.1.0|en" << noLog;
    QTest::newRow("upper case kept, not English")
        << "language" << QByteArray(" EN ") << zh << 0 << "2.0.3|1 2.1.0|EN" << noLog;
    QTest::newRow("zero byte cuts") << "language" << QByteArray("zh\0en", 5) << QLocale::English
                                    << 0 << "2.0.3|1 2.1.0|zh" << noLog;
    QTest::newRow("language missing, Chinese system")
        << "language" << none << zh << 0 << "2.0.3|1 2.1.0|zh"
        << "INFO languagefile not exist";
    QTest::newRow("language missing, other system")
        << "language" << none << QLocale::German << 0 << "2.0.3|1 2.1.0|en" << noLog;
}

void TestGlobal::config()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QLocale::Language, locale);
    QFETCH(int, result);
    QFETCH(QString, read);
    QFETCH(QString, logLine);
    // Nothing but the files may tell GetConfig where the client is.
    m_global = std::make_unique<Global>();
    QLocale::setDefault(QLocale(locale));
    QHash<QString, QByteArray> files{{"installed", json({{"appName", "Client.exe"},
                                                         {"appConfigFile", "config/client.json"},
                                                         {"appPath", m_clientDir->path() + "/"}})},
                                     {"client", R"({"client":{"version":"2.0.3"}})"},
                                     {"state", R"({"noRemind":1,"noRemindVersion":"2.1.0"})"},
                                     {"language", "en"}};
    files[file] = content;
    put(m_programDir->filePath("updateconfig.json"), files["installed"]);
    put(clientConfigPath(), files["client"]);
    put(m_home->filePath(kUserState), files["state"]);
    put(m_home->clientDataDir() + "/language.txt", files["language"]);

    LogCapture log;
    QCOMPARE(m_global->GetConfig(), result);
    QCOMPARE(QStringLiteral("%1|%2 %3|%4")
                 .arg(m_global->m_currentVersion, QString::number(m_global->m_remide),
                      m_global->m_noRemindVersion, m_global->m_language),
             read);
    QVERIFY2(log.containsLineStartingWith(logLine.replace('~', m_home->path())),
             qPrintable(log.lines().join('\n')));
}

void TestGlobal::writers_data()
{
    QTest::addColumn<QString>("type"); // "client": WriteConfigToClientFile
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray none;
    const QJsonObject old{{"noRemind", 1}, {"noRemindVersion", "1.0"}, {"extra", "x"}};
    QJsonObject version = old;
    version["currentVersion"] = "2.1.0";
    QTest::newRow("new state, remid")
        << "remid" << none << 0
        << json({{"noRemindVersion", "2.1.0"}, {"noRemind", 1}, {"currentVersion", ""}});
    QTest::newRow("new state, version")
        << "version" << none << 0
        << json({{"noRemindVersion", ""}, {"noRemind", 0}, {"currentVersion", "2.1.0"}});
    QTest::newRow("version keeps other keys") << "version" << json(old) << 0 << json(version);
    QTest::newRow("other type rewrites unchanged") << "Version" << json(old) << 0 << json(old);
    QTest::newRow("other type creates {}") << "Version" << none << 0 << json({});
    QTest::newRow("not JSON loses the rest")
        << "version" << QByteArray("{broken") << 0 << json({{"currentVersion", "2.1.0"}});
    QTest::newRow("unwritable") << "remid" << QByteArray("<dir>") << -1 << none;
    QTest::newRow("client file keeps other keys")
        << "client" << QByteArray(R"({"client":{"version":"2.0.3","lang":"en"},"ui":1})") << 0
        << json({{"client", QJsonObject{{"version", "2.1.0"}, {"lang", "en"}}}, {"ui", 1}});
}

void TestGlobal::writers()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, existing);
    QFETCH(int, result);
    QFETCH(QByteArray, expected);
    const bool client = type == "client";
    const QString path = client ? clientConfigPath() : m_home->filePath(kUserState);
    put(path, existing);

    QCOMPARE(client ? m_global->WriteConfigToClientFile() : m_global->WriteConfigToFile(type),
             result);
    QCOMPARE(readAll(path), expected);
}

void TestGlobal::versionInfo_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("read"); // "<notes>|<packageSize>"; "old notes|-5" before
    QTest::addColumn<QString>("logLine");

    auto answer = [](const QString& notes, qint64 size) {
        CheckAnswer answer;
        answer.notes = notes;
        answer.packageSize = size;
        return answer.toJson();
    };
    const QString two = QStringLiteral("修复问题 & Fixes crashes \n&third");
    const QString noLog;
    QTest::newRow("zh notes") << answer(two, 7) << "zh" << 0 << QStringLiteral("修复问题 |7")
                              << noLog;
    QTest::newRow("en notes") << answer(two, 7) << "en" << 0 << "Fixes crashes|7" << noLog;
    QTest::newRow("EN picks the second piece")
        << answer(two, 7) << "EN" << 0 << "Fixes crashes|7" << noLog;
    QTest::newRow("one language kept whole")
        << answer(" Only notes ", 7) << "en" << 0 << " Only notes |7" << noLog;
    QTest::newRow("size as text") << answer("n", 1234).replace("1234", "\"1234\"") << "en" << 0
                                  << "n|0" << noLog;
    QTest::newRow("size over 32 bits") << answer("n", 2147483648LL) << "en" << 0 << "n|0" << noLog;
    QTest::newRow("code error") << answer("n", 7).replace("000000", "100001") << "en" << -1
                                << "old notes|-5"
                                << "DEBUG Services Jsondata Code Error: \"100001\"";
    QTest::newRow("not JSON") << QByteArray("<html>502</html>") << "en" << -1 << "old notes|-5"
                              << "DEBUG  Recv Services Jsondata Error: 5";
}

void TestGlobal::versionInfo()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, language);
    QFETCH(int, result);
    QFETCH(QString, read);
    QFETCH(QString, logLine);
    m_global->m_language = language;
    m_global->m_packageSize = -5;
    m_global->m_latestVersionInfo = "old notes";

    LogCapture log;
    QCOMPARE(m_global->GetVersionInfo(body), result);
    QCOMPARE(m_global->m_latestVersionInfo + '|' + QString::number(m_global->m_packageSize), read);
    QVERIFY2(log.containsLineStartingWith(logLine), qPrintable(log.lines().join('\n')));
}

void TestGlobal::processCheck_data()
{
    QTest::addColumn<QString>("appName");
    QTest::addColumn<QStringList>("listings");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("started");

    const QStringList running{"\"Client.exe\",\"4242\""};
    const QStringList none;
    QTest::newRow("running, link goes to it")
        << "Client.exe" << running << QStringList{"-noremid", "a", "pord-meeting://room/42"} << 0
        << QStringList{"~/Client.exe --url=room/42"};
    QTest::newRow("running, no arguments")
        << "Client.exe" << running << none << 0 << QStringList{"~/Client.exe -autoupdate"};
    QTest::newRow("running, immediately")
        << "Client.exe" << running << QStringList{"-immediately"} << -1 << none;
    QTest::newRow("started meanwhile") << "Client.exe" << QStringList{"", running.first()}
                                       << QStringList{"a"} << 0 << QStringList{"~/Client.exe a"};
    QTest::newRow("not running") << "Client.exe" << QStringList{""} << QStringList{"a"} << -1
                                 << none;
    QTest::newRow("other letter case") << "client.exe" << running << none << -1 << none;
    QTest::newRow("empty name counts as running")
        << "" << QStringList{""} << none << 0 << QStringList{"~/ -autoupdate"};
}

void TestGlobal::processCheck()
{
    QFETCH(QString, appName);
    QFETCH(QStringList, listings);
    QFETCH(QStringList, arguments);
    QFETCH(int, result);
    QFETCH(QStringList, started);
    m_global->m_appName = appName;
    m_global->m_args = arguments;
    m_platform->setProcessListings(listings);

    QCOMPARE(m_global->CkeckProcess(), result);
    QCOMPARE(startedPrograms(), started);
}

void TestGlobal::relaunchEndsTheRunOnce()
{
    m_global->m_args = QStringList{"a", "pord-meeting://x", "b", "-immediately"};
    QCOMPARE(m_global->UpAppThread(), 0);
    QCOMPARE(m_global->UpAppThread(), 0);
    QVERIFY(!m_global->EndRun());
    QCOMPARE(startedPrograms(), QStringList{"~/Client.exe a b --url=x"});
    QCOMPARE(m_platform->pauses(), QList<int>{500});
}

// The user's cancel and the worker's start of an installation may come at the same instant:
// whichever comes first decides. Each step is "cancel", "begin" (the package is complete),
// "fail" (the installation failed) or "relaunch" (it succeeded).
void TestGlobal::cancelOrInstallation_data()
{
    QTest::addColumn<int>("updateType");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<int>("clientStarts");
    QTest::newRow("cancel, then the package") << 1 << "cancel begin"
                                              << "cancel:yes begin:no" << 0;
    QTest::newRow("zip installing, then cancel") << 1 << "begin cancel relaunch"
                                                 << "begin:yes cancel:no" << 1;
    QTest::newRow("installer checked, then cancel") << 0 << "begin cancel"
                                                    << "begin:yes cancel:no" << 0;
    QTest::newRow("failed installation, then cancel") << 1 << "begin fail cancel"
                                                      << "begin:yes cancel:yes" << 0;
    QTest::newRow("type that installs nothing") << 2 << "begin cancel"
                                                << "begin:yes cancel:yes" << 0;
}

void TestGlobal::cancelOrInstallation()
{
    QFETCH(int, updateType);
    QFETCH(QString, steps);
    m_global->m_updateType = updateType;
    QStringList answers;
    const auto answer = [&](const QString& step, bool yes) {
        answers << step + (yes ? ":yes" : ":no");
    };
    for (const QString& step : steps.split(' ')) {
        if (step == "cancel")
            answer(step, m_global->CancelRun());
        else if (step == "begin")
            answer(step, m_global->BeginInstallation());
        else if (step == "fail")
            m_global->EndInstallation();
        else
            m_global->UpAppThread();
    }
    QTEST(answers.join(' '), "answers");
    QTEST(int(m_platform->starts().size()), "clientStarts");
}

void TestGlobal::installerStart()
{
    m_global->m_args = QStringList{"-noremid", "pord-meeting://x", "-immediately", "-noremid"};
    QString installer = "/home/u/Setup.exe";
    QCOMPARE(m_global->UpAppInstallThread(installer), 0);
    QCOMPARE(m_platform->executables(), QStringList{installer});
    QCOMPARE(startedPrograms(), QStringList{"/home/u/Setup.exe pord-meeting://x -noremid"});
    QVERIFY(m_platform->pauses().isEmpty());
}

void TestGlobal::volumeLackingSpace_data()
{
    QTest::addColumn<qint64>("systemFree"); // -1: the query fails
    QTest::addColumn<qint64>("workingFree");
    QTest::addColumn<QString>("lacking");

    const qint64 needed = 3 * 104857600LL;
    QTest::newRow("one byte more than three times") << needed + 1 << needed + 1 << "";
    QTest::newRow("three times is not enough, C first") << needed << needed << "C";
    QTest::newRow("working volume short") << needed + 1 << needed << "D";
    QTest::newRow("query fails") << qint64(-1) << needed + 1 << "C";
}

void TestGlobal::volumeLackingSpace()
{
    QFETCH(qint64, systemFree);
    QFETCH(qint64, workingFree);
    QFETCH(QString, lacking);
    m_global->m_packageSize = 104857600;
    if (systemFree < 0)
        m_platform->setFreeSpaceError("C:\\", 3);
    else
        m_platform->setFreeSpace("C:\\", systemFree);
    m_platform->setFreeSpace("D:/", workingFree);
    LogCapture log;

    QCOMPARE(m_global->VolumeLackingSpace(), lacking);
    QCOMPARE(log.contains("DEBUG Call to GetDiskFreeSpaceEx() failed: 3"), systemFree < 0);
}

QTEST_GUILESS_MAIN(TestGlobal)
#include "tst_global.moc"
