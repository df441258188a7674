#include "fakeplatform.h"
#include "global.h"
#include "logcapture.h"
#include "testhome.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kUserState = QStringLiteral("AppData/Roaming/AutoUpdate/updateconfig.json");
const QString kLanguage = QStringLiteral("AppData/Roaming/quorvexAssistant/language.txt");

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson();
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

    void installedConfig_data();
    void installedConfig();
    void userState_data();
    void userState();
    void language_data();
    void language();
    void writeUserState_data();
    void writeUserState();
    void writeUserStateFailureLeavesFile();
    void writeClientVersion_data();
    void writeClientVersion();
    void versionInfo_data();
    void versionInfo();
    void processCheck_data();
    void processCheck();
    void relaunchEndsTheRunOnce();
    void installerStart();
    void commandScript();
    void volumeLackingSpace_data();
    void volumeLackingSpace();
    void digest_data();
    void digest();

private:
    void writeInstalledConfig(const QJsonObject& overrides = {});
    void writeClientConfig(const QByteArray& content);

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

void TestGlobal::writeInstalledConfig(const QJsonObject& overrides)
{
    QJsonObject config{{"appName", "Client.exe"},
                       {"appConfigFile", "config/client.json"},
                       {"appPath", m_clientDir->path() + "/"},
                       {"updateCheckUrl", "https://updates.invalid/check"},
                       {"updatePackageUrl", "https://updates.invalid/pack/"}};
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        config.insert(it.key(), it.value());
    QFile file(m_programDir->filePath("updateconfig.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(json(config));
}

void TestGlobal::writeClientConfig(const QByteArray& content)
{
    QDir().mkpath(m_clientDir->filePath("config"));
    QFile file(m_clientDir->filePath("config/client.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void TestGlobal::installedConfig_data()
{
    QTest::addColumn<QByteArray>("installed");
    QTest::addColumn<QByteArray>("client");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("logPrefix");

    const QByteArray client = R"({"client":{"version":"2.0.3","other":1},"top":true})";
    QTest::newRow("valid") << QByteArray("ok") << client << 0 << "2.0.3"
                           << "INFO currentVersion: \"2.0.3\"";
    QTest::newRow("installed missing") << QByteArray() << client << -1 << ""
                                       << "DEBUG updateconfig.json open failed: 0";
    QTest::newRow("installed not JSON") << QByteArray("{\"appName\":") << client << -1 << ""
                                        << "DEBUG  Auto Jsondata Error:";
    QTest::newRow("client missing") << QByteArray("ok") << QByteArray() << -1 << ""
                                    << "DEBUG \"";
    QTest::newRow("client not JSON") << QByteArray("ok") << QByteArray("{") << -1 << ""
                                     << "DEBUG  APP Jsondata Error:";
    QTest::newRow("client without version")
        << QByteArray("ok") << QByteArray(R"({"client":{}})") << 0 << ""
        << "INFO language is:";
    QTest::newRow("client version not a string")
        << QByteArray("ok") << QByteArray(R"({"client":{"version":203}})") << 0 << ""
        << "INFO language is:";
}

void TestGlobal::installedConfig()
{
    QFETCH(QByteArray, installed);
    QFETCH(QByteArray, client);
    QFETCH(int, result);
    QFETCH(QString, version);
    QFETCH(QString, logPrefix);
    if (installed == "ok") {
        writeInstalledConfig();
    } else if (!installed.isEmpty()) {
        QFile file(m_programDir->filePath("updateconfig.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(installed);
    }
    if (!client.isEmpty())
        writeClientConfig(client);

    LogCapture log;
    QCOMPARE(m_global->GetConfig(), result);
    QCOMPARE(m_global->m_currentVersion, version);
    QVERIFY2(log.containsLineStartingWith(logPrefix), qPrintable(log.lines().join('\n')));
    QCOMPARE(m_global->m_scptPath.isEmpty(), result != 0);
    if (result == 0) {
        QCOMPARE(m_global->m_appName, QStringLiteral("Client.exe"));
        QCOMPARE(m_global->m_getPackUrl, QStringLiteral("https://updates.invalid/pack/"));
        QCOMPARE(m_global->m_scptPath, m_home->updaterDir() + "/update.scpt");
    }
}

void TestGlobal::userState_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<int>("remide");
    QTest::addColumn<QString>("noRemindVersion");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("missing") << QByteArray() << 0 << ""
                             << "WARNING %1  not exists";
    QTest::newRow("reminders off")
        << QByteArray(R"({"noRemind":1,"noRemindVersion":"2.1.0","currentVersion":""})") << 1
        << "2.1.0"
        << "";
    QTest::newRow("true is not a number")
        << QByteArray(R"({"noRemind":true,"noRemindVersion":"2.1.0"})") << 0 << "2.1.0"
        << "";
    QTest::newRow("text is not a number")
        << QByteArray(R"({"noRemind":"1","noRemindVersion":"2.1.0"})") << 0 << "2.1.0"
        << "";
    QTest::newRow("not JSON") << QByteArray("noRemind=1") << 0 << ""
                              << "DEBUG %1  Jsondata Error: 5";
    QTest::newRow("unreadable") << QByteArray("<dir>") << 0 << ""
                                << "DEBUG %1  open failed: 5";
}

void TestGlobal::userState()
{
    QFETCH(QByteArray, state);
    QFETCH(int, remide);
    QFETCH(QString, noRemindVersion);
    QFETCH(QString, logLine);
    writeInstalledConfig();
    writeClientConfig(R"({"client":{"version":"2.0.3"}})");
    if (state == "<dir>")
        QVERIFY(QDir().mkpath(m_home->filePath(kUserState)));
    else if (!state.isEmpty())
        m_home->writeFile(kUserState, state);

    LogCapture log;
    QCOMPARE(m_global->GetConfig(), 0);
    QCOMPARE(m_global->m_remide, remide);
    QCOMPARE(m_global->m_noRemindVersion, noRemindVersion);
    if (!logLine.isEmpty()) {
        const QString path = '"' + m_home->filePath(kUserState) + '"';
        QVERIFY2(log.contains(logLine.arg(path)), qPrintable(log.lines().join('\n')));
    }
}

void TestGlobal::language_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QLocale::Language>("locale");
    QTest::addColumn<QString>("language");

    QTest::newRow("en with line break") << QByteArray("en\r\n") << QLocale::Chinese << "en";
    QTest::newRow("upper case kept") << QByteArray(" EN ") << QLocale::English << "EN";
    QTest::newRow("region kept") << QByteArray("en-US") << QLocale::English << "en-US";
    QTest::newRow("cut at zero byte") << QByteArray("zh\0en", 5) << QLocale::English << "zh";
    QTest::newRow("empty file") << QByteArray("") << QLocale::English << "";
    QTest::newRow("missing, Chinese system") << QByteArray("<none>") << QLocale::Chinese << "zh";
    QTest::newRow("missing, other system") << QByteArray("<none>") << QLocale::German << "en";
    QTest::newRow("unreadable") << QByteArray("<dir>") << QLocale::Chinese << "zh";
}

void TestGlobal::language()
{
    QFETCH(QByteArray, file);
    QFETCH(QLocale::Language, locale);
    QFETCH(QString, language);
    writeInstalledConfig();
    writeClientConfig(R"({"client":{"version":"2.0.3"}})");
    QLocale::setDefault(QLocale(locale));
    if (file == "<dir>")
        QVERIFY(QDir().mkpath(m_home->filePath(kLanguage)));
    else if (file != "<none>")
        m_home->writeFile(kLanguage, file);

    LogCapture log;
    QCOMPARE(m_global->GetConfig(), 0);
    QCOMPARE(m_global->m_language, language);
    QVERIFY(log.contains("INFO language is: \"" + language + '"'));
    QCOMPARE(log.contains("INFO languagefile not exist"), file == "<none>");
    QCOMPARE(log.containsLineStartingWith("WARNING languagefile open failed:"), file == "<dir>");
}

void TestGlobal::writeUserState_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QJsonObject>("expected");

    const QJsonObject old{{"noRemind", 1},
                          {"noRemindVersion", "1.0"},
                          {"currentVersion", "0.9.0-long-old-value"},
                          {"extra", "x"}};
    QJsonObject remid = old;
    remid["noRemindVersion"] = "2.1.0";
    QJsonObject version = old;
    version["currentVersion"] = "2.1.0";

    QTest::newRow("new, remid") << QByteArray() << "remid"
                                << QJsonObject{{"noRemindVersion", "2.1.0"},
                                               {"noRemind", 1},
                                               {"currentVersion", ""}};
    QTest::newRow("new, version") << QByteArray() << "version"
                                  << QJsonObject{{"noRemindVersion", ""},
                                                 {"noRemind", 0},
                                                 {"currentVersion", "2.1.0"}};
    QTest::newRow("new, other type") << QByteArray() << "Version" << QJsonObject();
    QTest::newRow("existing, remid") << json(old) << "remid" << remid;
    QTest::newRow("existing, version") << json(old) << "version" << version;
    QTest::newRow("existing, other type") << json(old) << "x" << old;
    QTest::newRow("existing not JSON loses the rest")
        << QByteArray("{broken") << "version" << QJsonObject{{"currentVersion", "2.1.0"}};
}

void TestGlobal::writeUserState()
{
    QFETCH(QByteArray, existing);
    QFETCH(QString, type);
    QFETCH(QJsonObject, expected);
    if (!existing.isEmpty())
        m_home->writeFile(kUserState, existing);
    m_global->m_latestVersion = "2.1.0";

    QCOMPARE(m_global->WriteConfigToFile(type), 0);
    QCOMPARE(m_home->readFile(kUserState), json(expected));
    QCOMPARE(QDir(m_home->updaterDir()).entryList(QDir::Files), QStringList{"updateconfig.json"});
}

void TestGlobal::writeUserStateFailureLeavesFile()
{
    QVERIFY(QDir(m_home->updaterDir()).removeRecursively());
    LogCapture log;
    m_global->m_latestVersion = "2.1.0";
    QCOMPARE(m_global->WriteConfigToFile("remid"), -1);
    QVERIFY(log.containsLineStartingWith("DEBUG WriteConfigToFile failed:"));

    QVERIFY(QDir().mkpath(m_home->filePath(kUserState)));
    QCOMPARE(m_global->WriteConfigToFile("version"), -1);
    QVERIFY(QFileInfo(m_home->filePath(kUserState)).isDir());
}

void TestGlobal::writeClientVersion_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<int>("result");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("keeps other keys")
        << QByteArray(R"({"client":{"version":"2.0.3-older","lang":"en"},"ui":{"x":1}})") << 0
        << QJsonObject{{"client", QJsonObject{{"version", "2.1.0"}, {"lang", "en"}}},
                       {"ui", QJsonObject{{"x", 1}}}};
    QTest::newRow("missing file created")
        << QByteArray() << 0 << QJsonObject{{"client", QJsonObject{{"version", "2.1.0"}}}};
    QTest::newRow("unwritable") << QByteArray("<dir>") << -1 << QJsonObject();
}

void TestGlobal::writeClientVersion()
{
    QFETCH(QByteArray, existing);
    QFETCH(int, result);
    QFETCH(QJsonObject, expected);
    m_global->m_appPath = m_clientDir->path() + "/";
    m_global->m_appConfigFile = "config/client.json";
    m_global->m_latestVersion = "2.1.0";
    if (existing == "<dir>")
        QVERIFY(QDir().mkpath(m_clientDir->filePath("config/client.json")));
    else if (!existing.isEmpty())
        writeClientConfig(existing);
    else
        QDir().mkpath(m_clientDir->filePath("config"));

    LogCapture log;
    QCOMPARE(m_global->WriteConfigToClientFile(), result);
    if (result == 0) {
        QFile file(m_clientDir->filePath("config/client.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), json(expected));
    } else {
        QVERIFY(log.containsLineStartingWith("DEBUG WriteConfigToClientFile failed:"));
    }
}

void TestGlobal::versionInfo_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("latestVersion");
    QTest::addColumn<qint64>("packageSize");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("logLine");

    auto answer = [](const QJsonValue& size, const QString& notes, const QString& code = "000000") {
        return QJsonDocument(
                   QJsonObject{{"code", code},
                               {"desc", "ok"},
                               {"biz", QJsonObject{{"id", "42"},
                                                   {"update", "1"},
                                                   {"latestVersion", "2.1.0"},
                                                   {"latestVersionUrl", "https://h/p/C.zip"},
                                                   {"latestVersionInfo", notes},
                                                   {"md5", "abc"},
                                                   {"sha1", "def"},
                                                   {"packageSize", size},
                                                   {"updateType", 1}}}})
            .toJson(QJsonDocument::Compact);
    };
    const QString twoLanguages = QStringLiteral("修复问题 & Fixes crashes \n&third");
    QTest::newRow("zh notes") << answer(1024, twoLanguages) << "zh" << 0 << "2.1.0" << qint64(1024)
                              << QStringLiteral("修复问题 ") << "";
    QTest::newRow("en notes") << answer(1024, twoLanguages) << "en" << 0 << "2.1.0" << qint64(1024)
                              << "Fixes crashes"
                              << "";
    QTest::newRow("EN picks the second piece")
        << answer(1024, twoLanguages) << "EN" << 0 << "2.1.0" << qint64(1024) << "Fixes crashes"
        << "";
    QTest::newRow("one language") << answer(7, " Only notes ") << "en" << 0 << "2.1.0" << qint64(7)
                                  << " Only notes "
                                  << "";
    QTest::newRow("size as text") << answer("1024", "n") << "en" << 0 << "2.1.0" << qint64(0) << "n"
                                  << "";
    QTest::newRow("size over 32 bits")
        << answer(2147483648.0, "n") << "en" << 0 << "2.1.0" << qint64(0) << "n"
        << "";
    QTest::newRow("code error") << answer(1, "n", "100001") << "en" << -1 << "old" << qint64(-5)
                                << "old notes"
                                << "DEBUG Services Jsondata Code Error: \"100001\"";
    QTest::newRow("not JSON") << QByteArray("<html>502</html>") << "en" << -1 << "old" << qint64(-5)
                              << "old notes"
                              << "DEBUG  Recv Services Jsondata Error: 5";
}

void TestGlobal::versionInfo()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, language);
    QFETCH(int, result);
    QFETCH(QString, latestVersion);
    QFETCH(qint64, packageSize);
    QFETCH(QString, notes);
    QFETCH(QString, logLine);
    m_global->m_language = language;
    m_global->m_latestVersion = "old";
    m_global->m_packageSize = -5;
    m_global->m_latestVersionInfo = "old notes";

    LogCapture log;
    QCOMPARE(m_global->GetVersionInfo(body), result);
    QCOMPARE(m_global->m_latestVersion, latestVersion);
    QCOMPARE(m_global->m_packageSize, packageSize);
    QCOMPARE(m_global->m_latestVersionInfo, notes);
    QVERIFY(log.lines().value(0).startsWith("INFO Service Jsondata: \"" +
                                            QString(body.left(5)).replace('"', "\\\"")));
    if (!logLine.isEmpty())
        QCOMPARE(log.lines().value(1), logLine);
    if (result == 0) {
        QCOMPARE(m_global->m_id, QStringLiteral("42"));
        QCOMPARE(m_global->m_updateType, 1);
        QCOMPARE(m_global->m_md5, QStringLiteral("abc"));
    }
}

void TestGlobal::processCheck_data()
{
    QTest::addColumn<QString>("appName");
    QTest::addColumn<QStringList>("listings");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("queries");
    QTest::addColumn<QStringList>("clientArguments");

    const QString running = QStringLiteral("\"Client.exe\",\"4242\"");
    const QString link = QStringLiteral("pord-meeting://room/42");
    const QStringList none{"<not started>"};
    QTest::newRow("running, link goes to it")
        << "Client.exe" << QStringList{running} << QStringList{"-noremid", link} << 0 << 1
        << QStringList{"--url=room/42"};
    QTest::newRow("running, no arguments") << "Client.exe" << QStringList{running} << QStringList()
                                           << 0 << 2 << QStringList{"-autoupdate"};
    QTest::newRow("running, immediately")
        << "Client.exe" << QStringList{running} << QStringList{"-immediately"} << -1 << 1 << none;
    QTest::newRow("not running, noremid and link")
        << "Client.exe" << QStringList{""} << QStringList{"-noremid", link} << -1 << 1 << none;
    QTest::newRow("started meanwhile") << "Client.exe" << QStringList{"", running}
                                       << QStringList{"a"} << 0 << 2 << QStringList{"a"};
    QTest::newRow("not running") << "Client.exe" << QStringList{""} << QStringList{"a"} << -1 << 2
                                 << none;
    QTest::newRow("other letter case")
        << "client.exe" << QStringList{running} << QStringList() << -1 << 2 << none;
    QTest::newRow("empty name counts as running")
        << "" << QStringList{""} << QStringList() << 0 << 2 << QStringList{"-autoupdate"};
}

void TestGlobal::processCheck()
{
    QFETCH(QString, appName);
    QFETCH(QStringList, listings);
    QFETCH(QStringList, arguments);
    QFETCH(int, result);
    QFETCH(int, queries);
    QFETCH(QStringList, clientArguments);
    m_global->m_appName = appName;
    m_global->m_appPath = "/opt/client/";
    m_global->m_args = arguments;
    m_platform->setProcessListings(listings);

    QCOMPARE(m_global->CkeckProcess(), result);
    QCOMPARE(m_platform->queries().size(), queries);
    const QList<FakePlatform::Start> starts = m_platform->starts();
    if (clientArguments == QStringList{"<not started>"}) {
        QVERIFY(starts.isEmpty());
        QCOMPARE(m_global->m_args, arguments);
    } else {
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts.first().program, "/opt/client/" + appName);
        QCOMPARE(starts.first().arguments, clientArguments);
    }
}

void TestGlobal::relaunchEndsTheRunOnce()
{
    m_global->m_appName = "Client.exe";
    m_global->m_appPath = "/opt/client/";
    m_global->m_args = QStringList{"a", "pord-meeting://x", "b", "-immediately"};
    LogCapture log;

    QCOMPARE(m_global->UpAppThread(), 0);
    QVERIFY(m_global->IsRunEnded());
    QCOMPARE(m_global->UpAppThread(), 0);
    QVERIFY(!m_global->EndRun());

    QCOMPARE(m_platform->starts().size(), 1);
    QCOMPARE(m_platform->starts().first().arguments, (QStringList{"a", "b", "--url=x"}));
    QCOMPARE(m_platform->pauses(), QList<int>{500});
    QCOMPARE(log.count("INFO \"Client.exe\"  starting..."), 1);
}

void TestGlobal::installerStart()
{
    m_global->m_args = QStringList{"-noremid", "pord-meeting://x", "-immediately", "-noremid"};
    QString installer = "/home/u/Setup.exe";
    LogCapture log;

    QCOMPARE(m_global->UpAppInstallThread(installer), 0);
    QCOMPARE(m_platform->executables(), QStringList{installer});
    QCOMPARE(m_platform->starts().size(), 1);
    QCOMPARE(m_platform->starts().first().program, installer);
    QCOMPARE(m_platform->starts().first().arguments, (QStringList{"pord-meeting://x", "-noremid"}));
    QVERIFY(m_platform->pauses().isEmpty());
    QVERIFY(log.contains("INFO \"/home/u/Setup.exe\"  starting..."));
    QVERIFY(m_global->IsRunEnded());
}

void TestGlobal::commandScript()
{
    QString text = QStringLiteral("echo 更新");
    m_global->m_scptPath = m_home->updaterDir() + "/update.scpt";
    QCOMPARE(m_global->WriteScptFile(text), 0);
    QCOMPARE(m_home->readFile("AppData/Roaming/AutoUpdate/update.scpt"), text.toUtf8());

    LogCapture log;
    m_global->m_scptPath = m_home->filePath("missing/update.scpt");
    QCOMPARE(m_global->WriteScptFile(text), -1);
    QVERIFY(log.containsLineStartingWith("DEBUG \"echo 更新\"  write failed:"));
}

void TestGlobal::volumeLackingSpace_data()
{
    QTest::addColumn<qint64>("packageSize");
    QTest::addColumn<qint64>("systemFree");
    QTest::addColumn<qint64>("workingFree");
    QTest::addColumn<QString>("lacking");

    const qint64 size = 104857600;
    QTest::newRow("both have room") << size << 3 * size + 1 << 3 * size + 1 << "";
    QTest::newRow("exactly three times is not enough") << size << 3 * size << 3 * size + 1 << "C";
    QTest::newRow("working volume short") << size << 3 * size + 1 << 3 * size << "D";
    QTest::newRow("both short names the system") << size << 0LL << 0LL << "C";
    QTest::newRow("empty package, one byte free") << 0LL << 1LL << 1LL << "";
    QTest::newRow("query fails") << 1LL << -1LL << 100LL << "C";
}

void TestGlobal::volumeLackingSpace()
{
    QFETCH(qint64, packageSize);
    QFETCH(qint64, systemFree);
    QFETCH(qint64, workingFree);
    QFETCH(QString, lacking);
    m_global->m_packageSize = packageSize;
    if (systemFree < 0)
        m_platform->setFreeSpaceError("C:\\", 3);
    else
        m_platform->setFreeSpace("C:\\", systemFree);
    m_platform->setFreeSpace("D:/", workingFree);
    LogCapture log;

    QCOMPARE(m_global->VolumeLackingSpace(), lacking);
    QCOMPARE(m_platform->freeSpaceQueries(), (QStringList{"C:\\", "D:/"}));
    QCOMPARE(log.contains("DEBUG Call to GetDiskFreeSpaceEx() failed: 3"), systemFree < 0);
}

void TestGlobal::digest_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("a");
    QByteArray large(3 * 1024 * 1024 + 1, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 % 251);
    QTest::newRow("few MiB and a byte") << large;
}

void TestGlobal::digest()
{
    QFETCH(QByteArray, content);
    QString path = m_home->writeFile("package.zip", content);
    m_global->m_md5 = "announced";
    LogCapture log;

    const QString expected =
        QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
    QCOMPARE(m_global->GetCheckMd5(path), expected);
    QCOMPARE(log.lines(), QStringList{"INFO org: \"announced\"  checkmd5: \"" + expected + '"'});

    QString missing = m_home->filePath("none.zip");
    QCOMPARE(m_global->GetCheckMd5(missing), QString());
}

QTEST_GUILESS_MAIN(TestGlobal)
#include "tst_global.moc"
