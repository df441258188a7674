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
    Global m_global;
    QString statePath() const { return m_home.updaterDir() + "/updateconfig.json"; }

private slots:
    void init()
    {
        QDir(m_home.updaterDir()).removeRecursively();
        QDir().mkpath(m_home.updaterDir());
        QDir::setCurrent(m_dir.path());
        ClientFiles::write("updateconfig.json", json({{"appConfigFile", "client.json"},
                                                      {"appPath", m_dir.path() + "/"}}));
        ClientFiles::write("client.json", ClientFiles::config("2.0.3"));
        m_global.m_latestVersion = "2.1.0";
    }

    // A state file that cannot be read is logged and taken for none.
    void stateRead_data()
    {
        QTest::addColumn<QByteArray>("state"); // null: no such file
        QTest::addColumn<QString>("read");     // "<noRemind> <noRemindVersion>"
        QTest::addColumn<QString>("logLine");
        const auto row = [](const char* name, const QByteArray& state, const char* read,
                            const char* log) {
            QTest::newRow(name) << state << QString(read) << QString(log);
        };
        row("fine", R"({"noRemind":1,"noRemindVersion":"2.1.0"})", "1 2.1.0", "");
        row("missing", QByteArray(), "0 ", "WARNING");
        row("not JSON", "noRemind=1", "0 ", "DEBUG");
        row("noRemind true", R"({"noRemind":true,"noRemindVersion":"2.1.0"})", "0 2.1.0", "");
    }

    void stateRead()
    {
        QFETCH(QByteArray, state);
        QFETCH(QString, logLine);
        if (!state.isNull())
            ClientFiles::write(statePath(), state);
        Global global;
        LogCapture log;

        QCOMPARE(global.GetConfig(), 0);
        QCOMPARE(global.m_currentVersion, QString("2.0.3"));
        QTEST(QString::number(global.m_remide) + ' ' + global.m_noRemindVersion, "read");
        QVERIFY(log.has(logLine + (logLine.isEmpty() ? "" : " \"" + statePath())));
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
        // The disk holds the old file and nothing more: the last row, as it stays mounted.
        QTest::newRow("full disk keeps the old file") << "remid" << json(old) << -1 << json(old);
    }

    void writers()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, existing);
        const QString path = type == "client" ? m_dir.filePath("client.json") : statePath();
        QFile::remove(path);
        if (!existing.isNull())
            ClientFiles::write(path, existing);
        if (QByteArray(QTest::currentDataTag()).contains("full disk") &&
            !m_home.mountSmallDisk(m_home.updaterDir(), 64, true))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        m_global.m_appPath = m_dir.path() + "/";
        m_global.m_appConfigFile = "client.json";

        QTEST(type == "client" ? m_global.WriteConfigToClientFile()
                               : m_global.WriteConfigToFile(type),
              "result");
        QTEST(ClientFiles::read(path), "expected");
    }
};

QTEST_GUILESS_MAIN(TestGlobal)
#include "tst_global.moc"
