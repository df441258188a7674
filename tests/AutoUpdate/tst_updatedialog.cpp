#include "base/userpaths.h"
#include "clientfiles.h"
#include "fakeplatform.h"
#include "global.h"
#include "testhome.h"
#include "windows/dwondialog.h"
#include "windows/updatedialog.h"

#include <QCheckBox>
#include <QDir>
#include <QDockWidget>
#include <QJsonDocument>
#include <QPushButton>
#include <QTest>

namespace {
// Leaves by the button of that name, the close button ("close") or Escape ("escape").
void leave(QWidget* widget, const QString& how)
{
    if (how == "close")
        widget->close();
    else if (how == "escape")
        QTest::keyClick(widget, Qt::Key_Escape);
    else
        widget->findChild<QPushButton*>(how)->click();
}
} // namespace

// The prompt and the progress window it opens, left by their buttons, the close button and
// Escape.
class TestUpdateDialog : public QObject
{
    Q_OBJECT

    TestHome m_home;

private slots:
    void init() { g_global.m_runEnd.Reset(); }

    // The close button of the normal prompt ("1") means "later"; of the forced one, no update
    // at all. Escape means what the close button means. The client is started again after
    // "later", unless the choice to be never reminded could not be recorded.
    void leavePrompt_data()
    {
        QTest::addColumn<bool>("forced");
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("neverRemind");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("relaunched");
        QTest::addColumn<int>("recorded"); // "noRemind" in the state file afterwards
        QTest::newRow("later") << false << "laterBtn" << false << true << true << 0;
        QTest::newRow("later, never remind") << false << "laterBtn" << true << true << true << 1;
        QTest::newRow("never remind, write fails")
            << false << "laterBtn" << true << false << false << 0;
        QTest::newRow("close, never remind") << false << "close" << true << true << true << 1;
        QTest::newRow("close, forced") << true << "close" << false << true << false << 0;
        QTest::newRow("Escape, never remind") << false << "escape" << true << true << true << 1;
        QTest::newRow("Escape, forced") << true << "escape" << false << true << false << 0;
    }

    void leavePrompt()
    {
        QFETCH(bool, forced);
        QFETCH(QString, how);
        QFETCH(bool, neverRemind);
        QFETCH(bool, writable);
        QFETCH(bool, relaunched);
        FakePlatform platform;
        QDir(UserPaths::updaterDir()).removeRecursively();
        if (writable)
            QDir().mkpath(UserPaths::updaterDir());
        // Whatever the updater was started with, the client is started with "-autoupdate" alone.
        g_global.m_args = QStringList{"--lang=zh"};
        ReleaseOffer offer;
        offer.version = "2.1.0";
        offer.updateMode = forced ? "2" : "1";
        UpdateDialog prompt;
        prompt.updateMode(offer);
        prompt.findChild<QCheckBox*>("checkRemid")->setChecked(neverRemind);

        leave(&prompt, how);

        QVERIFY(g_global.m_runEnd.IsEnded());
        const QStringList starts = platform.calls("start");
        QCOMPARE(starts.size(), int(relaunched));
        QVERIFY(!relaunched || starts.first().endsWith(" -autoupdate"));
        const QByteArray state = ClientFiles::read(UserPaths::updaterDir() + "/updateconfig.json");
        QTEST(QJsonDocument::fromJson(state)["noRemind"].toInt(), "recorded");
        delete prompt.m_dwonDlg;
    }

    // Cancelling from the progress window asks for confirmation first; declining, by the
    // panel's button or by Escape with its OK button focused, leaves the update running and the
    // panel ready to be asked again.
    void cancelProgress_data()
    {
        QTest::addColumn<QString>("ask");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("decline");
        QTest::newRow("cancel button") << "cancleBtn" << false << "cbtn";
        QTest::newRow("cancel button, declined with Escape") << "cancleBtn" << false << "escape";
        QTest::newRow("close button, error state") << "close" << true << "cbtn";
        QTest::newRow("Escape, declined with Escape") << "escape" << false << "escape";
        QTest::newRow("Escape, error state") << "escape" << true << "cbtn";
    }

    void cancelProgress()
    {
        QFETCH(QString, ask);
        QFETCH(bool, failed);
        QFETCH(QString, decline);
        DwonDialog dialog;
        dialog.InitUpdateInfo(ReleaseOffer());
        dialog.show();
        if (failed)
            dialog.UpdateErrorState("Download timed out");
        QWidget* panel = dialog.findChild<QDialog*>("NetDialog");
        QWidget* dock = dialog.findChild<QDockWidget*>("dockWidget");
        QWidget* ok = dialog.findChild<QPushButton*>("sbtn");

        leave(&dialog, ask);
        QVERIFY(dock->isVisible() && panel->isVisible());
        ok->setFocus();
        leave(decline == "escape" ? ok : panel, decline);
        // Nothing covers the window, not even the panel's empty dock.
        QVERIFY(!dock->isVisible() && dialog.isVisible());
        QVERIFY(!g_global.m_runEnd.IsEnded());

        leave(&dialog, ask);
        QVERIFY(dock->isVisible() && panel->isVisible());
        leave(panel, "sbtn");
        QVERIFY(g_global.m_runEnd.IsEnded());
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
