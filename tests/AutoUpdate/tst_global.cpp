#include "clientfiles.h"
#include "fakeplatform.h"
#include "global.h"
#include "logcapture.h"
#include "testhome.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QByteArray kClient = R"({"client":{"version":"2.0.3"}})";
const QByteArray kState = R"({"noRemind":1,"noRemindVersion":"2.1.0"})";

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson();
}
} // namespace

// The updater's files: its configuration, the client's, and the per-user state recording the
// user's choices, in a profile of the test's own with a client installed in a folder of its own.
class TestGlobal : public QObject
{
    Q_OBJECT

    TestHome m_home;
    QTemporaryDir m_programDir;
    QTemporaryDir m_clientDir;
    FakePlatform m_platform;
    QString statePath() const { return m_home.updaterDir() + "/updateconfig.json"; }
    QString clientConfigPath() const { return m_clientDir.filePath("config/client.json"); }

private slots:
    void init()
    {
        QDir::setCurrent(m_programDir.path());
        QDir(m_home.updaterDir()).removeRecursively();
        QDir().mkpath(m_home.updaterDir());
    }

    // Bad files give a logged outcome: the state a fresh one, the others no run at all.
    void config_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // null: no such file
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("read"); // "<client version>|<noRemind> <noRemindVersion>"
        QTest::addColumn<QString>("logLine");
        QTest::newRow("fine") << "state" << kState << 0 << "2.0.3|1 2.1.0"
                              << "";
        QTest::newRow("state missing") << "state" << QByteArray() << 0 << "2.0.3|0 "
                                       << "WARNING";
        QTest::newRow("state not JSON") << "state" << QByteArray("noRemind=1") << 0 << "2.0.3|0 "
                                        << "DEBUG \"" + statePath() + "\"  Jsondata Error: 5";
        QTest::newRow("noRemind true")
            << "state" << QByteArray(R"({"noRemind":true,"noRemindVersion":"2.1.0"})") << 0
            << "2.0.3|0 2.1.0"
            << "";
        QTest::newRow("installed missing") << "installed" << QByteArray() << -1 << "|1 2.1.0"
                                           << "DEBUG updateconfig.json open failed:";
        QTest::newRow("client not JSON") << "client" << QByteArray("{") << -1 << "|1 2.1.0"
                                         << "DEBUG  APP Jsondata Error:";
    }

    void config()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, logLine);
        const QHash<QString, QString> paths{
            {"installed", m_programDir.filePath("updateconfig.json")},
            {"client", clientConfigPath()},
            {"state", statePath()}};
        QHash<QString, QByteArray> files{
            {"installed", json({{"appName", "Client.exe"},
                                {"appConfigFile", "config/client.json"},
                                {"appPath", m_clientDir.path() + "/"}})},
            {"client", kClient},
            {"state", kState}};
        files[file] = content;
        for (const QString& name : paths.keys()) {
            QFile::remove(paths[name]);
            if (!files[name].isNull())
                ClientFiles::write(paths[name], files[name]);
        }
        Global global;
        LogCapture log;

        QTEST(global.GetConfig(), "result");
        QTEST(QStringLiteral("%1|%2 %3")
                  .arg(global.m_currentVersion, QString::number(global.m_remide),
                       global.m_noRemindVersion),
              "read");
        QVERIFY2(log.has(logLine), qPrintable(log.lines().join('\n')));
    }

    // The choices are recorded beside what the file holds, and the file is replaced whole or
    // not at all.
    void writers_data()
    {
        QTest::addColumn<QString>("type"); // "client": WriteConfigToClientFile
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("expected");
        const QJsonObject old{{"noRemind", 0}, {"extra", "x"}};
        QTest::newRow("never remind, new file")
            << "remid" << QByteArray() << 0
            << json({{"noRemindVersion", "2.1.0"}, {"noRemind", 1}, {"currentVersion", ""}});
        QTest::newRow("never remind keeps other keys")
            << "remid" << json(old) << 0
            << json({{"noRemindVersion", "2.1.0"}, {"noRemind", 1}, {"extra", "x"}});
        QTest::newRow("version keeps other keys")
            << "version" << json(old) << 0
            << json({{"noRemind", 0}, {"extra", "x"}, {"currentVersion", "2.1.0"}});
        QTest::newRow("not JSON loses the rest")
            << "version" << QByteArray("{broken") << 0 << json({{"currentVersion", "2.1.0"}});
        QTest::newRow("client file keeps other keys")
            << "client" << QByteArray(R"({"client":{"version":"2.0.3","lang":"en"},"ui":1})") << 0
            << json({{"client", QJsonObject{{"version", "2.1.0"}, {"lang", "en"}}}, {"ui", 1}});
        // The disk holds the old file and nothing more.
        QTest::newRow("full disk keeps the old file") << "remid" << json(old) << -1 << json(old);
    }

    void writers()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, existing);
        const QString path = type == "client" ? clientConfigPath() : statePath();
        QFile::remove(path);
        if (!existing.isNull())
            ClientFiles::write(path, existing);
        if (QByteArray(QTest::currentDataTag()).contains("full disk") &&
            !m_home.mountSmallDisk(m_home.updaterDir(), 64, true))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        Global global;
        global.m_appPath = m_clientDir.path() + "/";
        global.m_appConfigFile = "config/client.json";
        global.m_latestVersion = "2.1.0";

        QTEST(type == "client" ? global.WriteConfigToClientFile() : global.WriteConfigToFile(type),
              "result");
        QTEST(ClientFiles::read(path), "expected");
    }
};

QTEST_GUILESS_MAIN(TestGlobal)
#include "tst_global.moc"
