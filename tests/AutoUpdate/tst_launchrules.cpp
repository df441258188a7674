#include "launchrules.h"

#include <QTest>

class TestLaunchRules : public QObject
{
    Q_OBJECT

private slots:
    void arguments_data();
    void arguments();
};

void TestLaunchRules::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("checkAnyway");
    QTest::addColumn<QStringList>("client");
    const QString link = QStringLiteral("pord-meeting://x");

    QTest::newRow("empty") << QStringList() << false << QStringList{"-autoupdate"};
    QTest::newRow("-noremid alone")
        << QStringList{"-noremid"} << true << QStringList{"-autoupdate"};
    QTest::newRow("switch given twice stays once")
        << QStringList{"-noremid", "-noremid", "-immediately", "-immediately"} << true
        << QStringList{"-noremid", "-immediately"};
    QTest::newRow("switches are whole and case-sensitive")
        << QStringList{"-NOREMID", "-noremid2"} << false << QStringList{"-NOREMID", "-noremid2"};
    QTest::newRow("link moves to the end")
        << QStringList{"a", link, "b"} << false << QStringList{"a", "b", "--url=x"};
    QTest::newRow("only the first link rewritten") << QStringList{link, "pord-meeting://y"} << false
                                                   << QStringList{"pord-meeting://y", "--url=x"};
    QTest::newRow("second separator cuts")
        << QStringList{"pord-meeting://a://b"} << false << QStringList{"--url=a"};
    QTest::newRow("no separator keeps the link")
        << QStringList{"pord-meeting:room"} << false << QStringList{"--url=pord-meeting:room"};
}

void TestLaunchRules::arguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, checkAnyway);
    QFETCH(QStringList, client);
    QCOMPARE(LaunchRules::asksForCheckAnyway(arguments), checkAnyway);
    QCOMPARE(LaunchRules::clientArguments(arguments), client);
}

QTEST_GUILESS_MAIN(TestLaunchRules)
#include "tst_launchrules.moc"
