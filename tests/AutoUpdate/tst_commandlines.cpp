#include "check/launchrules.h"
#include "install/copycommand.h"
#include "platform/helperrun.h"

#include <QTest>

// The command lines the updater makes: the client's from its own, and the copy of a package over
// the client's folder through nircmd.
class TestCommandLines : public QObject
{
    Q_OBJECT

private slots:
    void clientArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("checkAnyway");
        QTest::addColumn<QStringList>("client");
        const QString link = QStringLiteral("pord-meeting://x");
        QTest::newRow("switch given twice stays once")
            << QStringList{"-noremid", "-noremid", "-immediately", "-immediately"} << true
            << QStringList{"-noremid", "-immediately"};
        QTest::newRow("switches are whole and case-sensitive")
            << QStringList{"-NOREMID", "-noremid2"} << false
            << QStringList{"-NOREMID", "-noremid2"};
        QTest::newRow("link moves to the end")
            << QStringList{"a", link, "b"} << false << QStringList{"a", "b", "--url=x"};
        QTest::newRow("only the first link rewritten")
            << QStringList{link, "pord-meeting://y"} << false
            << QStringList{"pord-meeting://y", "--url=x"};
        QTest::newRow("second separator cuts")
            << QStringList{"pord-meeting://a://b"} << false << QStringList{"--url=a"};
        QTest::newRow("no separator keeps the link")
            << QStringList{"pord-meeting:room"} << false << QStringList{"--url=pord-meeting:room"};
    }

    void clientArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, checkAnyway);
        QFETCH(QStringList, client);
        QCOMPARE(LaunchRules::asksForCheckAnyway(arguments), checkAnyway);
        QCOMPARE(LaunchRules::clientArguments(arguments), client);
    }

    // The home folder is C:\Users\name; the updater's program is P, the copy's verdict file V.
    // (The elevated copy into C:\Program Files is run by the Windows program under Wine.)
    void copyCommand_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("workingFolder");
        QTest::addColumn<QString>("command");
        const QString zip = QStringLiteral("C:/U/P.zip");
        const QString drive = QStringLiteral("D:/C/AutoUpdate");
        const QString copy = QStringLiteral("execmd P -copytree V ");
        QTest::newRow("inside home") << zip << "C:/Users/name/Apps/Client/AutoUpdate"
                                     << copy + "C:\\U\\P C:\\Users\\name\\Apps\\Client";
        QTest::newRow("other drive") << zip << drive << copy + "C:\\U\\P D:\\C";
        QTest::newRow("lower-case drive letter") << zip << "c:/Program Files/Client/AutoUpdate"
                                                 << copy + "C:\\U\\P c:\\Program Files\\Client";
        QTest::newRow("no .zip") << "C:/U/pkg" << drive << copy + "C:\\U\\pkg D:\\C";
        QTest::newRow(".zip in the folder part")
            << "C:/a.zip.d/p.zip" << drive << copy + "C:\\a.zip.d\\p D:\\C";
        QTest::newRow("upper-case .ZIP kept")
            << "C:/U/P.ZIP" << drive << copy + "C:\\U\\P.ZIP D:\\C";
    }

    void copyCommand()
    {
        QFETCH(QString, package);
        QFETCH(QString, workingFolder);
        QFETCH(QString, command);
        Platform::CopyRequest request =
            CopyCommand::unpackedTreeCopy(package, workingFolder, "C:/Users/name");
        request.helper = {"P", "V"};
        QCOMPARE(HelperRun::copyArguments(request).join(' '), command);
    }
};

QTEST_GUILESS_MAIN(TestCommandLines)
#include "tst_commandlines.moc"
