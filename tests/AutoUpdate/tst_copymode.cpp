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
    void verdict_data()
    {
        QTest::addColumn<QStringList>("command"); // the switch, then what follows the verdict
        QTest::addColumn<bool>("killed");
        QTest::addColumn<int>("limitMs");  // for the copy to start, and for its heartbeat's silence
        QTest::addColumn<int>("exitCode"); // -1: no verdict reached
        const QStringList copy{CopyMode::switchName(), "sh", "-c"};
        // The heartbeat comes every second: a copy that outlasts it is still waited for.
        QTest::newRow("copy that ends after a while")
            << copy + QStringList{"sleep 3; exit 0"} << false << 30000 << 0;
        QTest::newRow("copy that fails") << copy + QStringList{"exit 4"} << false << 30000 << 4;
        QTest::newRow("copy never started") << QStringList() << false << 500 << -1;
        QTest::newRow("copy mode killed") << copy + QStringList{"sleep 5"} << true << 1500 << -1;
        // A folder that is not empty stays, and is the removal's failure.
        QTest::newRow("removal") << QStringList{CopyMode::removalSwitchName()} << false << 30000
                                 << 1;
    }

    void verdict()
    {
        QFETCH(QStringList, command);
        QFETCH(bool, killed);
        QFETCH(int, limitMs);
        QFETCH(int, exitCode);
        QTemporaryDir folder;
        ClientFiles::write(folder.filePath("added one.txt"), "added");
        ClientFiles::write(folder.filePath("full folder/kept.txt"), "kept");
        QDir().mkpath(folder.filePath("added folder"));
        const QString verdictPath = folder.filePath("AutoUpdate/copy-verdict");
        const QStringList listed{folder.filePath("added one.txt"), folder.filePath("added folder"),
                                 folder.filePath("full folder"), folder.filePath("never there")};
        QVERIFY(CopyMode::prepareRemoval(verdictPath, listed));
        const bool removal = command.value(0) == CopyMode::removalSwitchName();
        if (removal)
            command << CopyMode::pathListPath(verdictPath);
        QProcess copy;
        if (!command.isEmpty()) {
            copy.start(AUTOUPDATE_BINARY,
                       QStringList{command.first(), verdictPath} + command.mid(1));
            QVERIFY(copy.waitForStarted());
        }
        if (killed) {
            QTRY_VERIFY(QFile::exists(verdictPath + ".alive"));
            ::kill(static_cast<pid_t>(copy.processId()), SIGKILL);
        }

        const CopyMode::Verdict verdict = CopyMode::await(verdictPath, limitMs, limitMs);
        QCOMPARE(verdict.reached ? verdict.exitCode : -1, exitCode);
        QCOMPARE(QFileInfo::exists(listed.at(0)), !removal);
        QCOMPARE(QFileInfo::exists(listed.at(1)), !removal);
        QVERIFY(QFileInfo::exists(listed.at(2)));
        copy.kill();
        copy.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestCopyMode)
#include "tst_copymode.moc"
