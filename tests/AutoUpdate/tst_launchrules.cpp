#include "launchrules.h"

#include <QTest>

class TestLaunchRules : public QObject
{
    Q_OBJECT

private slots:
    void clientArguments_data();
    void clientArguments();
    void meetingUrlArgument_data();
    void meetingUrlArgument();
    void clientRunning_data();
    void clientRunning();
    void checkAnyway_data();
    void checkAnyway();
};

void TestLaunchRules::clientArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");
    const QString link = QStringLiteral("pord-meeting://x");

    QTest::newRow("empty") << QStringList() << QStringList{"-autoupdate"};
    QTest::newRow("only switches")
        << QStringList{"-noremid", "-immediately"} << QStringList{"-autoupdate"};
    QTest::newRow("switch given twice stays once")
        << QStringList{"-noremid", "-noremid", "-immediately", "-immediately"}
        << QStringList{"-noremid", "-immediately"};
    QTest::newRow("link moves to the end")
        << QStringList{"a", link, "b"} << QStringList{"a", "b", "--url=x"};
    QTest::newRow("only first link rewritten")
        << QStringList{link, "pord-meeting://y"} << QStringList{"pord-meeting://y", "--url=x"};
    QTest::newRow("switches and a link") << QStringList{"-noremid", link} << QStringList{"--url=x"};
    QTest::newRow("switch case matters") << QStringList{"-NOREMID"} << QStringList{"-NOREMID"};
}

void TestLaunchRules::clientArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    QCOMPARE(LaunchRules::clientArguments(arguments), expected);
}

void TestLaunchRules::meetingUrlArgument_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "pord-meeting://room/42"
                           << "--url=room/42";
    QTest::newRow("second separator cuts") << "pord-meeting://a://b"
                                           << "--url=a";
    QTest::newRow("empty rest") << "pord-meeting://"
                                << "--url=";
    QTest::newRow("no separator keeps the link") << "pord-meeting:room"
                                                 << "--url=pord-meeting:room";
}

void TestLaunchRules::meetingUrlArgument()
{
    QFETCH(QString, link);
    QFETCH(QString, expected);
    QCOMPARE(LaunchRules::meetingUrlArgument(link), expected);
}

void TestLaunchRules::clientRunning_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("appName");
    QTest::addColumn<bool>("running");
    const QString csv = QStringLiteral("\"Image Name\",\"PID\"\r\n\"Client.exe\",\"4242\"\r\n");
    QTest::newRow("listed") << csv << "Client.exe" << true;
    QTest::newRow("other case") << csv << "client.exe" << false;
    QTest::newRow("no match") << QStringLiteral("INFO: No tasks are running.") << "Client.exe"
                              << false;
    QTest::newRow("empty name always runs") << QString() << QString() << true;
}

void TestLaunchRules::clientRunning()
{
    QFETCH(QString, listing);
    QFETCH(QString, appName);
    QFETCH(bool, running);
    QCOMPARE(LaunchRules::isClientRunning(listing, appName), running);
}

void TestLaunchRules::checkAnyway_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("expected");
    QTest::newRow("none") << QStringList() << false;
    QTest::newRow("noremid") << QStringList{"x", "-noremid"} << true;
    QTest::newRow("immediately") << QStringList{"-immediately"} << true;
    QTest::newRow("part of an argument") << QStringList{"-noremid2"} << false;
}

void TestLaunchRules::checkAnyway()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, expected);
    QCOMPARE(LaunchRules::asksForCheckAnyway(arguments), expected);
}

QTEST_GUILESS_MAIN(TestLaunchRules)
#include "tst_launchrules.moc"
