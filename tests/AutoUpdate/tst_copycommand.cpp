#include "copycommand.h"

#include <QTest>

class TestCopyCommand : public QObject
{
    Q_OBJECT

private slots:
    void command_data();
    void command();
};

// The home folder is C:\Users\name; the updater's program is P, the copy's verdict file V.
void TestCopyCommand::command_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("workingFolder");
    QTest::addColumn<QString>("command");

    const QString zip = QStringLiteral("C:/U/P.zip");
    const QString drive = QStringLiteral("D:/C/AutoUpdate");
    QTest::newRow("inside home")
        << zip << "C:/Users/name/Apps/Client/AutoUpdate"
        << "execmd P -copytree V xcopy /e /y C:\\U\\P\\* C:\\Users\\name\\Apps\\Client";
    QTest::newRow("program files")
        << zip << "C:/Program Files/Client/AutoUpdate"
        << "elevatecmd execmd P -copytree V xcopy /e /y C:\\U\\P\\* C:\\Program Files\\Client";
    QTest::newRow("other drive") << zip << drive
                                 << "execmd P -copytree V xcopy /e /y C:\\U\\P\\* D:\\C";
    QTest::newRow("lower-case drive letter")
        << zip << "c:/Program Files/Client/AutoUpdate"
        << "execmd P -copytree V xcopy /e /y C:\\U\\P\\* c:\\Program Files\\Client";
    QTest::newRow("no .zip") << "C:/U/pkg" << drive
                             << "execmd P -copytree V xcopy /e /y C:\\U\\pkg\\* D:\\C";
    QTest::newRow(".zip in the folder part")
        << "C:/a.zip.d/p.zip" << drive << "execmd P -copytree V xcopy /e /y C:\\a\\* D:\\C";
    QTest::newRow("upper-case .ZIP kept")
        << "C:/U/P.ZIP" << drive << "execmd P -copytree V xcopy /e /y C:\\U\\P.ZIP\\* D:\\C";
}

void TestCopyCommand::command()
{
    QFETCH(QString, package);
    QFETCH(QString, workingFolder);
    QFETCH(QString, command);
    const QString source = CopyCommand::toBackslashes(CopyCommand::sourcePattern(package));
    const QString target = CopyCommand::toBackslashes(CopyCommand::targetFolder(workingFolder));
    const bool elevate = CopyCommand::needsElevation(target, "C:\\Users\\name");
    QCOMPARE(
        CopyCommand::nircmdArguments("P", CopyCommand::copyArguments("V", source, target), elevate)
            .join(' '),
        command);
}

QTEST_GUILESS_MAIN(TestCopyCommand)
#include "tst_copycommand.moc"
