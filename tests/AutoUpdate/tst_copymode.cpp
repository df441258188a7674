#include "clientfiles.h"
#include "copymode.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The updater's program in copy mode, started apart as nircmd starts it, and the wait for its
// verdict: the exit code of the copy tool once the copy has ended, or of the removal of listed
// paths, and none when nothing starts or what started dies without one.
class TestCopyMode : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
};

void TestCopyMode::verdict_data()
{
    QTest::addColumn<QStringList>("command"); // the switch, then what follows the verdict
    QTest::addColumn<QStringList>("created"); // a name ending in '/' is a folder
    QTest::addColumn<QStringList>("listed");  // the paths to remove
    QTest::addColumn<bool>("killed");
    QTest::addColumn<int>("limitMs"); // for the copy to start, and for its heartbeat's silence
    QTest::addColumn<bool>("reached");
    QTest::addColumn<int>("exitCode");
    const QStringList copy{CopyMode::switchName(), "sh", "-c"};
    const QStringList removal{CopyMode::removalSwitchName()};
    const QStringList none;
    // The heartbeat comes every second: a copy that outlasts it is still waited for.
    QTest::newRow("copy that ends after a while")
        << copy + QStringList{"sleep 3; exit 0"} << none << none << false << 30000 << true << 0;
    QTest::newRow("copy that fails")
        << copy + QStringList{"exit 4"} << none << none << false << 30000 << true << 4;
    QTest::newRow("copy never started") << none << none << none << false << 500 << false << -1;
    QTest::newRow("copy mode killed")
        << copy + QStringList{"sleep 5"} << none << none << true << 1500 << false << -1;
    QTest::newRow("removal") << removal << QStringList{"added one.txt", "added folder/"}
                             << QStringList{"added one.txt", "added folder/", "never there"}
                             << false << 30000 << true << 0;
    QTest::newRow("removal of a folder not empty")
        << removal << QStringList{"folder/kept.txt"} << QStringList{"folder/"} << false << 30000
        << true << 1;
}

void TestCopyMode::verdict()
{
    QFETCH(QStringList, command);
    QFETCH(QStringList, created);
    QFETCH(QStringList, listed);
    QFETCH(bool, killed);
    QFETCH(int, limitMs);
    QFETCH(bool, reached);
    QFETCH(int, exitCode);
    QTemporaryDir folder;
    for (const QString& name : created) {
        if (name.endsWith('/'))
            QDir().mkpath(folder.filePath(name));
        else
            ClientFiles::write(folder.filePath(name), "added");
    }
    QStringList paths;
    for (const QString& name : listed)
        paths << folder.filePath(name);
    const QString verdictPath = folder.filePath("AutoUpdate/copy-verdict");
    QVERIFY(CopyMode::prepareRemoval(verdictPath, paths));
    QProcess copy;
    if (!command.isEmpty()) {
        QStringList arguments = QStringList{command.first(), verdictPath} + command.mid(1);
        if (command.first() == CopyMode::removalSwitchName())
            arguments << CopyMode::pathListPath(verdictPath);
        copy.start(AUTOUPDATE_BINARY, arguments);
        QVERIFY(copy.waitForStarted());
    }
    if (killed) {
        QTRY_VERIFY(QFile::exists(verdictPath + ".alive"));
        ::kill(static_cast<pid_t>(copy.processId()), SIGKILL);
    }

    const CopyMode::Verdict verdict = CopyMode::await(verdictPath, limitMs, limitMs);
    QCOMPARE(verdict.reached, reached);
    if (reached)
        QCOMPARE(verdict.exitCode, exitCode);
    for (const QString& path : paths)
        QCOMPARE(QFileInfo::exists(path), exitCode == 1);
    copy.kill();
    copy.waitForFinished();
}

QTEST_GUILESS_MAIN(TestCopyMode)
#include "tst_copymode.moc"
