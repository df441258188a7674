#include "logfile.h"
#include "testhome.h"

#include <QFile>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void formatsLine_data();
    void formatsLine();
    void appendsUpToTheSizeLimit_data();
    void appendsUpToTheSizeLimit();
    void recreatesDeletedFolder();
    void linesFromTwoThreadsStayWhole();

private:
    static void log(const char* text) { LogFile::messageHandler(QtInfoMsg, {}, text); }
};

void TestLogFile::formatsLine_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");

    const QString message = QStringLiteral("cmd line parameters : \"-noremid\"");
    QTest::newRow("info, slash path cut")
        << int(QtInfoMsg) << QByteArray("../AutoUpdate/main.cpp") << 120
        << "[2025-03-03 10:15:02] [INFO] (main.cpp:120) " + message;
    QTest::newRow("backslash path whole")
        << int(QtDebugMsg) << QByteArray("..\\AutoUpdate\\main.cpp") << 7
        << "[2025-03-03 10:15:02] [DEBUG] (..\\AutoUpdate\\main.cpp:7) " + message;
    QTest::newRow("warning") << int(QtWarningMsg) << QByteArray("a/b/global.cpp") << 31
                             << "[2025-03-03 10:15:02] [WARNING] (global.cpp:31) " + message;
    QTest::newRow("critical has no level word") << int(QtCriticalMsg) << QByteArray("x.cpp") << 1
                                                << "[2025-03-03 10:15:02] [] (x.cpp:1) " + message;
    QTest::newRow("no context") << int(QtInfoMsg) << QByteArray() << 0
                                << "[2025-03-03 10:15:02] [INFO] (:0) " + message;
}

void TestLogFile::formatsLine()
{
    QFETCH(int, type);
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    QFETCH(QString, expected);

    const QMessageLogContext context(file.isEmpty() ? nullptr : file.constData(), line, "f", "c");
    const QDateTime when(QDate(2025, 3, 3), QTime(10, 15, 2));
    QCOMPARE(LogFile::formatLine(QtMsgType(type), context,
                                 QStringLiteral("cmd line parameters : \"-noremid\""), when),
             expected);
}

void TestLogFile::appendsUpToTheSizeLimit_data()
{
    QTest::addColumn<qint64>("existingSize");
    QTest::addColumn<bool>("emptied");
    QTest::newRow("at the limit") << LogFile::kMaxSize << false;
    QTest::newRow("one byte over") << LogFile::kMaxSize + 1 << true;
}

void TestLogFile::appendsUpToTheSizeLimit()
{
    QFETCH(qint64, existingSize);
    QFETCH(bool, emptied);
    TestHome home;
    const QString path =
        home.writeFile(QStringLiteral("AppData/Roaming/AutoUpdate/AutoUpdate.log"), QByteArray());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(existingSize));
    file.close();

    log("next");

    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray lineEnd = " next\r\n";
    QVERIFY(file.size() > lineEnd.size());
    QCOMPARE(file.size() < existingSize, emptied);
    QVERIFY(file.readAll().endsWith(lineEnd));
}

void TestLogFile::recreatesDeletedFolder()
{
    TestHome home;
    log("first");
    QVERIFY(QDir(home.updaterDir()).removeRecursively());
    log("second");
    const QByteArray content =
        home.readFile(QStringLiteral("AppData/Roaming/AutoUpdate/AutoUpdate.log"));
    QVERIFY(content.endsWith(" second\r\n"));
    QVERIFY(!content.contains("first"));
}

void TestLogFile::linesFromTwoThreadsStayWhole()
{
    TestHome home;
    constexpr int kLines = 300;
    const QByteArray longText(200, 'x');
    auto writeMany = [&longText](char tag) {
        for (int i = 0; i < kLines; ++i)
            LogFile::messageHandler(QtInfoMsg, {}, QString::fromLatin1(tag + longText));
    };
    QFuture<void> other = QtConcurrent::run(writeMany, 'a');
    writeMany('b');
    other.waitForFinished();

    const QList<QByteArray> lines =
        home.readFile(QStringLiteral("AppData/Roaming/AutoUpdate/AutoUpdate.log")).split('\n');
    QCOMPARE(lines.size(), 2 * kLines + 1);
    for (int i = 0; i < 2 * kLines; ++i) {
        QVERIFY2(lines.at(i).endsWith("a" + longText + '\r') ||
                     lines.at(i).endsWith("b" + longText + '\r'),
                 lines.at(i).constData());
    }
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
