#include "copycommand.h"

#include <QTest>

class TestCopyCommand : public QObject
{
    Q_OBJECT

private slots:
    void arguments_data();
    void arguments();
    void sourcePattern_data();
    void sourcePattern();
    void targetFolder();
};

void TestCopyCommand::arguments_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("elevate");
    QTest::newRow("inside home") << "C:\\Users\\name\\Apps\\Client" << false;
    QTest::newRow("program files") << "C:\\Program Files\\Client" << true;
    QTest::newRow("other drive") << "D:\\Client" << false;
    QTest::newRow("lower-case drive letter") << "c:\\Program Files\\Client" << false;
}

void TestCopyCommand::arguments()
{
    QFETCH(QString, target);
    QFETCH(bool, elevate);
    const QString home = CopyCommand::toBackslashes(QStringLiteral("C:/Users/name"));
    const QString source = QStringLiteral("C:\\Users\\name\\AppData\\Roaming\\AutoUpdate\\C\\P\\*");

    QCOMPARE(CopyCommand::needsElevation(target, home), elevate);
    QStringList expected{"execmd", "xcopy", "/e", "/y", source, target};
    if (elevate)
        expected.prepend("elevatecmd");
    QCOMPARE(CopyCommand::nircmdArguments(source, target, elevate), expected);
}

void TestCopyCommand::sourcePattern_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("source");
    QTest::newRow("zip") << "C:/U/AutoUpdate/Client/Client_2.1.zip"
                         << "C:\\U\\AutoUpdate\\Client\\Client_2.1\\*";
    QTest::newRow("no zip ending") << "C:/U/pkg"
                                   << "C:\\U\\pkg\\*";
    QTest::newRow("zip in the folder part") << "C:/a.zip.d/p.zip"
                                            << "C:\\a\\*";
    QTest::newRow("upper-case ending kept") << "C:/U/P.ZIP"
                                            << "C:\\U\\P.ZIP\\*";
}

void TestCopyCommand::sourcePattern()
{
    QFETCH(QString, package);
    QFETCH(QString, source);
    QCOMPARE(CopyCommand::toBackslashes(CopyCommand::sourcePattern(package)), source);
}

void TestCopyCommand::targetFolder()
{
    QCOMPARE(CopyCommand::targetFolder("D:/Program Files/Client/AutoUpdate"),
             QStringLiteral("D:/Program Files/Client"));
}

QTEST_GUILESS_MAIN(TestCopyCommand)
#include "tst_copycommand.moc"
