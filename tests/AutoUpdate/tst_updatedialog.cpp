#include "dwondialog.h"
#include "fakeplatform.h"
#include "global.h"
#include "testhome.h"
#include "updatedialog.h"

#include <QCheckBox>
#include <QDir>
#include <QJsonDocument>
#include <QPushButton>
#include <QTest>

// Leaving the prompt without updating. The close button of the normal prompt ("1") means
// "later"; of the forced one, no update at all. Escape means what the close button means.
class TestUpdateDialog : public QObject
{
    Q_OBJECT

    TestHome m_home;

private slots:
    void leave_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("leave");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("relaunched");
        QTest::newRow("later") << "1"
                               << "later" << false << true << true;
        QTest::newRow("later, never remind") << "1"
                                             << "later" << true << true << true;
        QTest::newRow("never remind, write fails") << "1"
                                                   << "later" << true << false << false;
        QTest::newRow("close, never remind") << "1"
                                             << "close" << true << true << true;
        QTest::newRow("close, forced") << "2"
                                       << "close" << false << true << false;
        QTest::newRow("Escape, never remind") << "1"
                                              << "escape" << true << true << true;
        QTest::newRow("Escape, forced") << "2"
                                        << "escape" << false << true << false;
    }

    void leave()
    {
        QFETCH(QString, mode);
        QFETCH(QString, leave);
        QFETCH(bool, ticked);
        QFETCH(bool, writable);
        QFETCH(bool, relaunched);
        FakePlatform platform;
        QDir folder(m_home.updaterDir());
        folder.removeRecursively();
        if (writable)
            folder.mkpath(".");
        g_global.ResetRunEnd();
        // Whatever the updater was started with, the client is started with "-autoupdate" alone.
        g_global.m_args = QStringList{"--lang=zh"};
        g_global.m_updateMode = mode;
        UpdateDialog prompt;
        prompt.updateMode(mode);
        prompt.findChild<QCheckBox*>("checkRemid")->setChecked(ticked);

        if (leave == "later")
            prompt.findChild<QPushButton*>("laterBtn")->click();
        else if (leave == "close")
            prompt.close();
        else
            QTest::keyClick(&prompt, Qt::Key_Escape);

        QVERIFY(g_global.IsRunEnded());
        const QStringList starts = platform.calls("start");
        QCOMPARE(starts.size(), int(relaunched));
        QVERIFY(!relaunched || starts.first().endsWith(" -autoupdate"));
        const QByteArray state = m_home.readFile("AppData/Roaming/AutoUpdate/updateconfig.json");
        QCOMPARE(QJsonDocument::fromJson(state)["noRemind"].toInt(), ticked && writable ? 1 : 0);
        delete prompt.m_dwonDlg;
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
