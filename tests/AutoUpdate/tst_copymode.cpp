#include "clientfiles.h"
#include "platform/helperrun.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

// The updater's program in copy mode, started apart as nircmd starts it, and the wait for its
// verdict: the exit code of the copy tool once the copy has ended, and none when nothing starts
// or what started dies without one; and a removal in copy mode of a long list. (The removal of a
// restore runs under Wine, elevated.)
class TestCopyMode : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data()
    {
        QTest::addColumn<QString>("command"); // run by sh; none: nothing starts
        QTest::addColumn<bool>("killed");
        QTest::addColumn<int>("limitMs");  // for the copy to start, and for its heartbeat's silence
        QTest::addColumn<int>("exitCode"); // -1: no verdict reached
        // The heartbeat comes every second: a copy that outlasts it is still waited for.
        QTest::newRow("copy that fails after a while") << "sleep 3; exit 4" << false << 30000 << 4;
        QTest::newRow("copy never started") << QString() << false << 500 << -1;
        QTest::newRow("copy mode killed") << "sleep 5" << true << 1500 << -1;
    }

    void verdict()
    {
        QFETCH(QString, command);
        QFETCH(bool, killed);
        QFETCH(int, limitMs);
        QFETCH(int, exitCode);
        const QTemporaryDir folder;
        const QString verdictPath = folder.filePath("copy-verdict");
        QProcess copy;
        if (!command.isEmpty()) {
            copy.start(AUTOUPDATE_BINARY,
                       {HelperRun::copySwitch(), verdictPath, "sh", "-c", command});
            QVERIFY(copy.waitForStarted());
        }
        if (killed) {
            QTRY_VERIFY(QFile::exists(verdictPath + ".alive"));
            ::kill(static_cast<pid_t>(copy.processId()), SIGKILL);
        }

        const HelperRun::Verdict verdict = HelperRun::await(verdictPath, limitMs, limitMs);
        QCOMPARE(verdict.reached ? verdict.exitCode : -1, exitCode);
        copy.kill();
        copy.waitForFinished();
    }

    // The removal after a failed install of a large package: the list names every file it added.
    // Prints the largest memory any child of the test took, the removal's among them.
    void removalOfManyPaths()
    {
        const QTemporaryDir folder;
        QStringList paths;
        for (int i = 0; i < 30000; ++i) {
            paths.append(folder.filePath(QString("added/file %1.dat").arg(i)));
            ClientFiles::write(paths.last(), "added");
        }
        paths.append(folder.filePath("added"));
        const QString verdictPath = folder.filePath("remove-verdict");
        QVERIFY(HelperRun::prepareRemoval(verdictPath, paths));

        QProcess removal;
        removal.start(AUTOUPDATE_BINARY, {HelperRun::removalSwitch(), verdictPath,
                                          HelperRun::pathListPath(verdictPath)});
        QVERIFY(removal.waitForFinished(60000));
        QCOMPARE(HelperRun::await(verdictPath, 1000, 1000).exitCode, 0);
        QVERIFY(!QFileInfo::exists(folder.filePath("added")));
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        qInfo("largest child: %ld KiB", usage.ru_maxrss);
    }
};

QTEST_GUILESS_MAIN(TestCopyMode)
#include "tst_copymode.moc"
