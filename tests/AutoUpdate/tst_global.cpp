#include "clientfiles.h"
#include "fakeplatform.h"
#include "global.h"
#include "testhome.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson();
}
} // namespace

// The per-user state recording the user's choices, and the client's configuration, in a profile
// of the test's own with a client installed in a folder of its own.
class TestGlobal : public QObject
{
    Q_OBJECT

    TestHome m_home;
    QTemporaryDir m_dir;
    FakePlatform m_platform;

private slots:
    // A state file that cannot be read is taken for none. The choices are recorded beside what
    // the file holds, and the file is replaced whole or not at all.
    void stateFiles_data()
    {
        // "read": GetConfig; "client": WriteConfigToClientFile; else WriteConfigToFile(action).
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("existing"); // null: no such file
        QTest::addColumn<int>("result");
        // read: "<currentVersion> <noRemind> <noRemindVersion>"; else the file afterwards.
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* action, const QByteArray& existing,
                            int result, const QByteArray& expected) {
            QTest::newRow(name) << QString(action) << existing << result << expected;
        };
        const QByteArray old = json({{"noRemind", 0}, {"extra", "x"}});
        row("read", "read", R"({"noRemind":1,"noRemindVersion":"2.1.0"})", 0, "2.0.3 1 2.1.0");
        row("read missing", "read", QByteArray(), 0, "2.0.3 0 ");
        row("read not JSON", "read", "noRemind=1", 0, "2.0.3 0 ");
        row("read noRemind true", "read", R"({"noRemind":true,"noRemindVersion":"2.1.0"})", 0,
            "2.0.3 0 2.1.0");
        row("never remind, new file", "remid", QByteArray(), 0,
            json({{"noRemindVersion", "2.1.0"}, {"noRemind", 1}, {"currentVersion", ""}}));
        row("never remind keeps other keys", "remid", old, 0,
            json({{"noRemindVersion", "2.1.0"}, {"noRemind", 1}, {"extra", "x"}}));
        row("version keeps other keys", "version", old, 0,
            json({{"noRemind", 0}, {"extra", "x"}, {"currentVersion", "2.1.0"}}));
        row("not JSON loses the rest", "version", "{broken", 0,
            json({{"currentVersion", "2.1.0"}}));
        row("client file keeps other keys", "client",
            R"({"client":{"version":"2.0.3","lang":"en"},"ui":1})", 0,
            json({{"client", QJsonObject{{"version", "2.1.0"}, {"lang", "en"}}}, {"ui", 1}}));
        // The disk holds the old file and nothing more: the last row, as it stays mounted.
        row("full disk keeps the old file", "remid", old, -1, old);
    }

    void stateFiles()
    {
        QFETCH(QString, action);
        QFETCH(QByteArray, existing);
        const QString updaterDir = m_home.updaterDir();
        const QString path =
            action == "client" ? m_dir.filePath("client.json") : updaterDir + "/updateconfig.json";
        QDir(updaterDir).removeRecursively();
        QDir::setCurrent(m_dir.path());
        ClientFiles::write("updateconfig.json", json({{"appConfigFile", "client.json"},
                                                      {"appPath", m_dir.path() + "/"}}));
        ClientFiles::write("client.json", ClientFiles::config("2.0.3"));
        const bool fullDisk = QByteArray(QTest::currentDataTag()).contains("full disk");
        if (fullDisk && !m_home.mountSmallDisk(updaterDir, 64))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        QDir().mkpath(updaterDir);
        if (!existing.isNull())
            ClientFiles::write(path, existing);
        if (fullDisk) // every write into it fails from here on
            ClientFiles::write(updaterDir + "/filler", QByteArray(64 * 1024, 'x'));
        Global global;
        global.m_latestVersion = "2.1.0";
        global.m_appPath = m_dir.path() + "/";
        global.m_appConfigFile = "client.json";

        QTEST(action == "read"     ? global.GetConfig()
              : action == "client" ? global.WriteConfigToClientFile()
                                   : global.WriteConfigToFile(action),
              "result");
        const QString read = QString("%1 %2 %3")
                                 .arg(global.m_currentVersion)
                                 .arg(global.m_remide)
                                 .arg(global.m_noRemindVersion);
        QTEST(action == "read" ? read.toUtf8() : ClientFiles::read(path), "expected");
    }
};

QTEST_GUILESS_MAIN(TestGlobal)
#include "tst_global.moc"
