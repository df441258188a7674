#include "base/logfile.h"
#include "base/userpaths.h"
#include "check/launchrules.h"
#include "clientfiles.h"
#include "platform/platform.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The parts of the Windows platform file that the program's runs under Wine do not show, against
// the system itself. The stand-in tasklist.exe lies beside this program, where its child
// processes are looked for first.
class TestPlatformWin : public QObject
{
    Q_OBJECT

private slots:
    // tasklist filters by image name ignoring case; the updater's own test of its output is
    // case-sensitive. Names are passed and read in the local code page.
    void processQuery_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("queried");
        QTest::addColumn<bool>("running");
        const QString client = QStringLiteral("QuorvexClient.exe");
        QTest::newRow("same name") << client << client << true;
        QTest::newRow("other letter case") << client << "quorvexclient.exe" << false;
        QTest::newRow("accented name") << "Café.exe"
                                       << "Café.exe" << true;
    }

    void processQuery()
    {
        QFETCH(QString, image);
        QFETCH(QString, queried);
        QFETCH(bool, running);
        QTemporaryDir dir;
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/QuorvexClient.exe",
                            dir.filePath(image)));
        QProcess client;
        client.start(dir.filePath(image), {"--linger"});
        QVERIFY(client.waitForStarted());
        const QString listing = Platform::current().queryProcesses(queried);
        client.kill();
        client.waitForFinished();
        QVERIFY2(listing.contains(image), qPrintable(listing));
        QCOMPARE(LaunchRules::isClientRunning(listing, queried), running);
    }

    // Each line in the local code page, ended by "\r\n".
    void logFileUsesLocalCodePage()
    {
        // The log may hold a user's earlier runs: only what this test appends counts.
        const QString log = UserPaths::updaterDir() + "/AutoUpdate.log";
        const int earlier = ClientFiles::read(log).size();
        const QString text = QStringLiteral("Café 更新");
        LogFile::messageHandler(QtInfoMsg, {}, text);
        LogFile::messageHandler(QtInfoMsg, {}, text);
        const QByteArray content = ClientFiles::read(log).mid(earlier);
        const QList<QByteArray> lines = content.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(1).endsWith(" " + text.toLocal8Bit() + "\r"));
        if (QString("é").toLocal8Bit() != QString("é").toUtf8())
            QVERIFY(!content.contains(QString("é").toUtf8()));
    }
};

QTEST_MAIN(TestPlatformWin)
#include "tst_platformwin.moc"
