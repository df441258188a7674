#include "clientfiles.h"
#include "platform/helperrun.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

// The updater's program in copy mode, started apart as nircmd starts it, and the wait for its
// verdict; its copy, and its removal of a long list. (The removal of a restore runs under Wine,
// elevated.)
class TestCopyMode : public QObject
{
    Q_OBJECT

private slots:
    // The wait reads a verdict however long it takes to come, as long as the heartbeat stays
    // fresh; it gives up when nothing starts or what started falls silent. A heartbeat a killed
    // helper left long ago is not taken for the new helper's. Stand-ins in sh play the helper, so
    // that each case takes the time it names.
    void verdict_data()
    {
        QTest::addColumn<QString>("helper"); // run by sh with the verdict's path; none: nothing
        QTest::addColumn<int>(
            "limitMs"); // for the helper to start, and for its heartbeat's silence
        QTest::addColumn<bool>("staleHeartbeat"); // an hour old when the wait begins
        QTest::addColumn<int>("exitCode");        // -1: no verdict reached
        const QString beating = "for i in 1 2 3; do date > \"$1.alive\"; sleep 1; done; ";
        const QString verdict = "echo 4 > \"$1\"; rm \"$1.alive\"";
        QTest::newRow("verdict after a while") << beating + verdict << 1500 << false << 4;
        QTest::newRow("never started") << QString() << 500 << false << -1;
        QTest::newRow("fell silent") << "date > \"$1.alive\"; sleep 5" << 1500 << false << -1;
        QTest::newRow("started after a killed one")
            << "sleep 1; " + beating + verdict << 3000 << true << 4;
    }

    void verdict()
    {
        QFETCH(QString, helper);
        QFETCH(int, limitMs);
        QFETCH(bool, staleHeartbeat);
        QFETCH(int, exitCode);
        const QTemporaryDir folder;
        const QString verdictPath = folder.filePath("copy-verdict");
        if (staleHeartbeat) {
            QFile left(verdictPath + ".alive");
            QVERIFY(left.open(QIODevice::WriteOnly));
            QVERIFY(left.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
        }
        QProcess process;
        if (!helper.isEmpty())
            process.start("sh", {"-c", helper, "helper", verdictPath});

        const Result<int> verdict = HelperRun::await(verdictPath, limitMs, limitMs);
        QCOMPARE(verdict ? verdict.value() : -1, exitCode);
        process.kill();
        process.waitForFinished();
    }

    // A helper that outlived the updater which started it is left to finish before another
    // starts: two copies never run at once, and its verdict is not taken from under it.
    void prepareWaitsForRunningHelper()
    {
        const QTemporaryDir folder;
        const QString verdictPath = folder.filePath("copy-verdict");
        QProcess helper;
        helper.start("sh", {"-c",
                            "for i in 1 2 3; do date > \"$1.alive\"; sleep 1; done; "
                            "touch \"$1.done\"; echo 0 > \"$1\"; rm \"$1.alive\"",
                            "helper", verdictPath});
        QTRY_VERIFY(QFile::exists(verdictPath + ".alive"));

        HelperRun::prepare(verdictPath, 1500);
        QVERIFY(QFile::exists(verdictPath + ".done"));
        QVERIFY(!QFile::exists(verdictPath));
        helper.waitForFinished();
    }

    // The copy replaces whatever stands at a file's path below the client folder, except a
    // folder: a link is replaced, never written through, and a read-only file like any other.
    void copy_data()
    {
        QTest::addColumn<QString>("standing"); // at "bin/app.dat" in the client folder
        QTest::addColumn<int>("exitCode");
        QTest::newRow("nothing") << "" << 0;
        QTest::newRow("a file") << "file" << 0;
        QTest::newRow("a read-only file") << "read-only" << 0;
        QTest::newRow("a link out of the client folder") << "link" << 0;
        QTest::newRow("a folder") << "folder" << 1;
    }

    void copy()
    {
        QFETCH(QString, standing);
        QFETCH(int, exitCode);
        const QTemporaryDir folder;
        const QString tree = folder.filePath("tree");
        const QString client = folder.filePath("client");
        const QString outside = folder.filePath("outside.dat");
        ClientFiles::write(tree + "/bin/app.dat", "new");
        ClientFiles::write(tree + "/.hidden", "hidden");
        ClientFiles::write(outside, "outside");
        const QString app = client + "/bin/app.dat";
        QDir().mkpath(client + "/bin");
        if (standing == "file" || standing == "read-only")
            ClientFiles::write(app, "old");
        if (standing == "read-only")
            QFile::setPermissions(app, QFile::ReadOwner);
        if (standing == "link")
            QVERIFY(QFile::link(outside, app));
        if (standing == "folder")
            QDir().mkpath(app);

        const QString verdictPath = folder.filePath("copy-verdict");
        QCOMPARE(QProcess::execute(AUTOUPDATE_BINARY,
                                   {HelperRun::copySwitch(), verdictPath, tree, client}),
                 exitCode);
        QCOMPARE(ClientFiles::read(verdictPath), QByteArray::number(exitCode));
        QCOMPARE(ClientFiles::read(outside), QByteArray("outside"));
        if (exitCode == 0)
            QCOMPARE(ClientFiles::tree(client), ClientFiles::tree(tree));
    }

    // The removal after a failed install of a large package, which lists every file it added:
    // more paths than one command line holds, by the helper (Windows' road) and by the platform.
    // Prints the largest memory any child of the test took, the removal's among them.
    void removalOfManyPaths_data()
    {
        QTest::addColumn<bool>("helper");
        QTest::newRow("helper") << true;
        QTest::newRow("platform") << false;
    }

    void removalOfManyPaths()
    {
        QFETCH(bool, helper);
        const QTemporaryDir folder;
        Platform::RemovalRequest request;
        for (int i = 0; i < 30000; ++i) {
            request.paths.append(folder.filePath(
                QString("added/a plugin with a name long enough to fill lines %1.dat").arg(i)));
            ClientFiles::write(request.paths.last(), "added");
        }
        request.paths.append(folder.filePath("added"));
        const QString verdictPath = folder.filePath("remove-verdict");
        if (helper) {
            QVERIFY(HelperRun::prepareRemoval(verdictPath, request.paths, 1000));
            QProcess removal;
            removal.start(AUTOUPDATE_BINARY, {HelperRun::removalSwitch(), verdictPath,
                                              HelperRun::pathListPath(verdictPath)});
            QVERIFY(removal.waitForFinished(60000));
            const Result<int> verdict = HelperRun::await(verdictPath, 1000, 1000);
            QVERIFY(verdict);
            QCOMPARE(verdict.value(), 0);
        } else {
            Platform::current().removePaths(request);
        }
        QVERIFY(!QFileInfo::exists(folder.filePath("added")));
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        qInfo("largest child: %ld KiB", usage.ru_maxrss);
    }
};

QTEST_GUILESS_MAIN(TestCopyMode)
#include "tst_copymode.moc"
