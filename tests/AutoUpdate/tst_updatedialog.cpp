#include "dwondialog.h"
#include "fakeplatform.h"
#include "global.h"
#include "testhome.h"
#include "updatedialog.h"

#include <QCheckBox>
#include <QDir>
#include <QDockWidget>
#include <QJsonDocument>
#include <QPushButton>
#include <QTest>

// The prompt and the progress window it opens, left by their buttons, the close button and
// Escape.
class TestUpdateDialog : public QObject
{
    Q_OBJECT

    TestHome m_home;

private slots:
    void init() { g_global.ResetRunEnd(); }

    // The close button of the normal prompt ("1") means "later"; of the forced one, no update
    // at all. Escape means what the close button means. The client is started again after
    // "later", unless the choice to be never reminded could not be recorded.
    void leavePrompt_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("leave");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("writable");
        const auto row = [](const char* name, const char* mode, const char* leave, bool ticked,
                            bool writable) {
            QTest::newRow(name) << QString(mode) << QString(leave) << ticked << writable;
        };
        row("later", "1", "later", false, true);
        row("later, never remind", "1", "later", true, true);
        row("never remind, write fails", "1", "later", true, false);
        row("close, never remind", "1", "close", true, true);
        row("close, forced", "2", "close", false, true);
        row("Escape, never remind", "1", "escape", true, true);
        row("Escape, forced", "2", "escape", false, true);
    }

    void leavePrompt()
    {
        QFETCH(QString, mode);
        QFETCH(QString, leave);
        QFETCH(bool, ticked);
        QFETCH(bool, writable);
        FakePlatform platform;
        QDir folder(m_home.updaterDir());
        folder.removeRecursively();
        if (writable)
            folder.mkpath(".");
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
        const bool relaunched = mode == "1" && (writable || !ticked);
        const QStringList starts = platform.calls("start");
        QCOMPARE(starts.size(), int(relaunched));
        QVERIFY(!relaunched || starts.first().endsWith(" -autoupdate"));
        const QByteArray state = m_home.readFile("AppData/Roaming/AutoUpdate/updateconfig.json");
        QCOMPARE(QJsonDocument::fromJson(state)["noRemind"].toInt(), ticked && writable ? 1 : 0);
        delete prompt.m_dwonDlg;
    }

    // Cancelling from the progress window asks for confirmation first; declining leaves the
    // update running and the panel ready to be asked again.
    void cancelProgress_data()
    {
        QTest::addColumn<QString>("ask");
        QTest::addColumn<bool>("failed");
        // Escape inside the panel, with its OK button focused, instead of its cancel button.
        QTest::addColumn<bool>("declineWithEscape");
        QTest::newRow("cancel button") << "cancel" << false << false;
        QTest::newRow("cancel button, declined with Escape") << "cancel" << false << true;
        QTest::newRow("close button, error state") << "close" << true << false;
        QTest::newRow("Escape, declined with Escape") << "escape" << false << true;
        QTest::newRow("Escape, error state") << "escape" << true << false;
    }

    void cancelProgress()
    {
        QFETCH(QString, ask);
        QFETCH(bool, failed);
        QFETCH(bool, declineWithEscape);
        DwonDialog dialog;
        dialog.InitUpdateInfo();
        dialog.show();
        if (failed)
            dialog.UpdateErrorState("Download timed out");
        const auto button = [&](const char* name) { return dialog.findChild<QPushButton*>(name); };
        const auto panelShown = [&] {
            return dialog.findChild<QDockWidget*>("dockWidget")->isVisible() &&
                   dialog.findChild<QDialog*>("NetDialog")->isVisible();
        };
        const auto askToCancel = [&] {
            if (ask == "cancel")
                button("cancleBtn")->click();
            else if (ask == "close")
                dialog.close();
            else
                QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(panelShown());
        };

        askToCancel();
        if (declineWithEscape) {
            button("sbtn")->setFocus();
            QTest::keyClick(button("sbtn"), Qt::Key_Escape);
        } else {
            button("cbtn")->click();
        }
        // Nothing covers the window, not even the panel's empty dock.
        QVERIFY(!dialog.findChild<QDockWidget*>("dockWidget")->isVisible());
        QVERIFY(dialog.isVisible());
        QVERIFY(!g_global.IsRunEnded());

        askToCancel();
        button("sbtn")->click();
        QVERIFY(g_global.IsRunEnded());
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
