#include "clientfiles.h"
#include "launchrules.h"
#include "logfile.h"
#include "platform/platform.h"
#include "userpaths.h"

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
    void processQuery_data();
    void processQuery();
    void logFileUsesLocalCodePage();
};

// tasklist filters by image name ignoring case; the updater's own test of its output is
// case-sensitive. Names are passed and read in the local code page.
void TestPlatformWin::processQuery_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("queried");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("running");
    QTest::newRow("same name") << "QuorvexClient.exe"
                               << "QuorvexClient.exe" << true << true;
    QTest::newRow("other letter case") << "QuorvexClient.exe"
                                       << "quorvexclient.exe" << true << false;
    QTest::newRow("another program") << "QuorvexClient.exe"
                                     << "Other.exe" << false << false;
    QTest::newRow("accented name")
        << QStringLiteral("Café.exe") << QStringLiteral("Café.exe") << true << true;
}

void TestPlatformWin::processQuery()
{
    QFETCH(QString, image);
    QFETCH(QString, queried);
    QFETCH(bool, listed);
    QFETCH(bool, running);
    QTemporaryDir dir;
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/QuorvexClient.exe",
                        dir.filePath(image)));
    QProcess client;
    client.start(dir.filePath(image), {QStringLiteral("--linger")});
    QVERIFY(client.waitForStarted());

    const QString listing = Platform::current().queryProcesses(queried);

    client.kill();
    client.waitForFinished();
    QVERIFY2(listing.contains(image) == listed, qPrintable(listing));
    QCOMPARE(LaunchRules::isClientRunning(listing, queried), running);
}

void TestPlatformWin::logFileUsesLocalCodePage()
{
    // Windows gives the test its user's own profile: the log is started afresh.
    const QString logPath = UserPaths::updaterDir() + QStringLiteral("/AutoUpdate.log");
    QFile::remove(logPath);
    const QString text = QStringLiteral("Café 更新");

    LogFile::messageHandler(QtInfoMsg, {}, text);
    LogFile::messageHandler(QtInfoMsg, {}, text);

    const QByteArray content = ClientFiles::read(logPath);
    const QList<QByteArray> lines = content.split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(1).endsWith(" " + text.toLocal8Bit() + "\r"));
    const QString accent = QStringLiteral("é");
    if (accent.toLocal8Bit() != accent.toUtf8())
        QVERIFY(!content.contains(accent.toUtf8()));
}

QTEST_MAIN(TestPlatformWin)
#include "tst_platformwin.moc"
