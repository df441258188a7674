#include "copymode.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The updater's program in copy mode, started apart as nircmd starts it, and the wait for its
// verdict: the exit code of the copy tool once the copy has ended, and none when no copy starts
// or the one that started dies without one.
class TestCopyMode : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
};

void TestCopyMode::verdict_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("killed");
    QTest::addColumn<int>("limitMs"); // for the copy to start, and for its heartbeat's silence
    QTest::addColumn<bool>("reached");
    QTest::addColumn<int>("exitCode");
    // The heartbeat comes every second: a copy that outlasts it is still waited for.
    QTest::newRow("copy that ends after a while")
        << "sleep 3; exit 0" << true << false << 30000 << true << 0;
    QTest::newRow("copy that fails") << "exit 4" << true << false << 30000 << true << 4;
    QTest::newRow("copy never started") << "" << false << false << 500 << false << -1;
    QTest::newRow("copy mode killed") << "sleep 5" << true << true << 1500 << false << -1;
}

void TestCopyMode::verdict()
{
    QFETCH(QString, tool);
    QFETCH(bool, started);
    QFETCH(bool, killed);
    QFETCH(int, limitMs);
    QFETCH(bool, reached);
    QFETCH(int, exitCode);
    QTemporaryDir folder;
    const QString verdictPath = folder.filePath("AutoUpdate/copy-verdict");
    CopyMode::prepare(verdictPath);
    QProcess copy;
    if (started) {
        copy.start(AUTOUPDATE_BINARY, {CopyMode::switchName(), verdictPath, "sh", "-c", tool});
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
    copy.kill();
    copy.waitForFinished();
}

QTEST_GUILESS_MAIN(TestCopyMode)
#include "tst_copymode.moc"
