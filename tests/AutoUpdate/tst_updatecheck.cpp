#include "checkanswer.h"
#include "global.h"
#include "httpdownloadfile.h"
#include "logcapture.h"

#include <QTest>

namespace {
QByteArray answer(const char* version, const char* update)
{
    CheckAnswer answer;
    answer.latestVersion = version;
    answer.update = update;
    return answer.toJson();
}
} // namespace

// What the updater makes of the update service's answer to its check.
class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        g_global.ResetRunEnd();
        g_global.m_appName = "QuorvexClient.exe";
        g_global.m_currentVersion = "2.0.3";
        g_global.m_language = "en";
    }

    // The mode the user is asked in ("1" normal, anything else forced), or nothing when the
    // client is started at once.
    void decision_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("neverRemindFor");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("logLine");
        const QStringList none;
        QTest::newRow("offered") << answer("2.1.0", "1") << "" << none << "1"
                                 << "";
        QTest::newRow("forced") << answer("2.1.0", "2") << "" << none << "2"
                                << "";
        QTest::newRow("installed version") << answer("2.0.3", "1") << "" << none << ""
                                           << "";
        QTest::newRow("update 0") << answer("2.1.0", "0") << "" << none << ""
                                  << "";
        QTest::newRow("never remind") << answer("2.1.0", "1") << "2.1.0" << none << ""
                                      << "";
        QTest::newRow("never remind, another version")
            << answer("2.1.0", "1") << "2.0.9" << none << "1"
            << "";
        QTest::newRow("never remind, -noremid")
            << answer("2.1.0", "1") << "2.1.0" << QStringList{"-noremid"} << "1"
            << "";
        QTest::newRow("never remind, -immediately")
            << answer("2.1.0", "2") << "2.1.0" << QStringList{"-immediately"} << "2"
            << "";
        QTest::newRow("code error")
            << answer("2.1.0", "1").replace("000000", "100001") << "" << none << ""
            << "DEBUG Services Jsondata Code Error:";
        QTest::newRow("code a number") << QByteArray(R"({"code":0,"biz":{}})") << "" << none << ""
                                       << "DEBUG Services Jsondata Code Error: \"\"";
        QTest::newRow("not JSON") << QByteArray("<html>502</html>") << "" << none << ""
                                  << "DEBUG  Recv Services Jsondata Error: 5";
    }

    void decision()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, neverRemindFor);
        QFETCH(QStringList, arguments);
        QFETCH(QString, logLine);
        g_global.m_remide = neverRemindFor.isEmpty() ? 0 : 1;
        g_global.m_noRemindVersion = neverRemindFor;
        g_global.m_args = arguments;
        LogCapture log;

        const bool asked =
            HttpDownLoadFile::AnswerOffersUpdate(body) && HttpDownLoadFile::UpdateWanted();

        QTEST(asked ? g_global.m_updateMode : QString(), "offered");
        QVERIFY2(log.has(logLine), qPrintable(log.lines().join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
