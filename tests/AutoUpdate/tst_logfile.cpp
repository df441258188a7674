#include "logfile.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

namespace {
const QString kLog = QStringLiteral("AppData/Roaming/AutoUpdate/AutoUpdate.log");
} // namespace

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void formatsLine_data();
    void formatsLine();
    void appends_data();
    void appends();
    void linesFromTwoThreadsStayWhole();

private:
    static void log(const QString& text) { LogFile::messageHandler(QtInfoMsg, {}, text); }
};

void TestLogFile::formatsLine_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("file"); // null: a build without log context
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");

    QTest::newRow("info, slash path cut")
        << int(QtInfoMsg) << QByteArray("../AutoUpdate/main.cpp") << 120 << "[INFO] (main.cpp:120)";
    QTest::newRow("backslash path whole")
        << int(QtDebugMsg) << QByteArray("..\\AutoUpdate\\main.cpp") << 7
        << "[DEBUG] (..\\AutoUpdate\\main.cpp:7)";
    QTest::newRow("warning") << int(QtWarningMsg) << QByteArray("a/b/global.cpp") << 31
                             << "[WARNING] (global.cpp:31)";
    QTest::newRow("critical has no level word")
        << int(QtCriticalMsg) << QByteArray("x.cpp") << 1 << "[] (x.cpp:1)";
    QTest::newRow("no context") << int(QtInfoMsg) << QByteArray() << 0 << "[INFO] (:0)";
}

void TestLogFile::formatsLine()
{
    QFETCH(int, type);
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    QFETCH(QString, expected);
    const QMessageLogContext context(file.isNull() ? nullptr : file.constData(), line, "f", "c");
    const QDateTime when(QDate(2025, 3, 3), QTime(10, 15, 2));
    QCOMPARE(LogFile::formatLine(QtMsgType(type), context, "a \"b\"", when),
             "[2025-03-03 10:15:02] " + expected + " a \"b\"");
}

void TestLogFile::appends_data()
{
    QTest::addColumn<int>("existingSize"); // -1: the folder deleted after a first line
    QTest::addColumn<int>("kept");         // bytes before the new line
    QTest::newRow("at the limit, appended") << int(LogFile::kMaxSize) << int(LogFile::kMaxSize);
    QTest::newRow("one byte over, emptied") << int(LogFile::kMaxSize + 1) << 0;
    QTest::newRow("deleted folder recreated") << -1 << 0;
}

void TestLogFile::appends()
{
    QFETCH(int, existingSize);
    QFETCH(int, kept);
    TestHome home;
    if (existingSize >= 0) {
        QVERIFY(QFile::resize(home.writeFile(kLog, QByteArray()), existingSize));
    } else {
        log("first");
        QVERIFY(QDir(home.updaterDir()).removeRecursively());
    }

    log("next");
    const QByteArray content = home.readFile(kLog);
    QCOMPARE(content.indexOf('['), kept);
    QVERIFY(content.endsWith("] (:0) next\r\n"));
}

void TestLogFile::linesFromTwoThreadsStayWhole()
{
    TestHome home;
    auto writeMany = [](QChar tag) {
        for (int i = 0; i < 300; ++i)
            log(tag + QString(200, 'x'));
    };
    QFuture<void> other = QtConcurrent::run(writeMany, QChar('a'));
    writeMany('b');
    other.waitForFinished();

    const QStringList lines = QString::fromLatin1(home.readFile(kLog)).split("\r\n");
    QCOMPARE(lines.size(), 601);
    QCOMPARE(
        lines.filter(QRegularExpression(R"(^\[[-\d: ]{19}\] \[INFO\] \(:0\) [ab]x{200}$)")).size(),
        600);
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
