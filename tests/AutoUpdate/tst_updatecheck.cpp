#include "checkanswer.h"
#include "global.h"
#include "httpdownloadfile.h"

#include <QRegularExpression>
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
    // client is started at once; an answer in error is logged.
    void decision_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("neverRemindFor");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("logged");
        const auto row = [](const char* name, const QByteArray& body, const char* neverRemindFor,
                            const char* arguments, const char* offered, const char* log = "") {
            QTest::newRow(name) << body << QString(neverRemindFor) << QString(arguments)
                                << QString(offered) << QString(log);
        };
        row("offered", answer("2.1.0", "1"), "", "", "1");
        row("forced", answer("2.1.0", "2"), "", "", "2");
        row("installed version", answer("2.0.3", "1"), "", "", "");
        row("update 0", answer("2.1.0", "0"), "", "", "");
        row("never remind", answer("2.1.0", "1"), "2.1.0", "", "");
        row("never remind, another version", answer("2.1.0", "1"), "2.0.9", "", "1");
        row("never remind, -noremid", answer("2.1.0", "1"), "2.1.0", "-noremid", "1");
        row("never remind, -immediately", answer("2.1.0", "2"), "2.1.0", "-immediately", "2");
        row("code error", answer("2.1.0", "1").replace("000000", "100001"), "", "", "",
            "Services Jsondata Code Error: \"100001\"");
        row("code a number", R"({"code":0,"biz":{}})", "", "", "",
            "Services Jsondata Code Error: \"\"");
        row("not JSON", "<html>502</html>", "", "", "", "Recv Services Jsondata Error: 5");
    }

    void decision()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, neverRemindFor);
        QFETCH(QString, arguments);
        QFETCH(QString, logged);
        g_global.m_remide = neverRemindFor.isEmpty() ? 0 : 1;
        g_global.m_noRemindVersion = neverRemindFor;
        g_global.m_args = arguments.split(' ', Qt::SkipEmptyParts);
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtDebugMsg,
                                 QRegularExpression(QRegularExpression::escape(logged) + '$'));

        const bool asked =
            HttpDownLoadFile::AnswerOffersUpdate(body) && HttpDownLoadFile::UpdateWanted();

        QTEST(asked ? g_global.m_updateMode : QString(), "offered");
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
