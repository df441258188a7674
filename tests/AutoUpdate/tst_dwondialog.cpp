#include "dwondialog.h"
#include "fakeplatform.h"
#include "global.h"
#include "testhome.h"

#include <QDockWidget>
#include <QLabel>
#include <QPushButton>
#include <QTest>

// Cancelling from the progress window asks for confirmation first; declining leaves the update
// running and the panel ready to be asked again.
class TestDwonDialog : public QObject
{
    Q_OBJECT

    TestHome m_home;
    FakePlatform m_platform;

private slots:
    void cancelAsksForConfirmation_data()
    {
        QTest::addColumn<QString>("ask");
        QTest::addColumn<bool>("failed");
        // Escape inside the panel, with its OK button focused, instead of its cancel button.
        QTest::addColumn<bool>("declineWithEscape");
        QTest::newRow("cancel button") << "cancel" << false << false;
        QTest::newRow("cancel button, declined with Escape") << "cancel" << false << true;
        QTest::newRow("close button") << "close" << false << false;
        QTest::newRow("close button, error state") << "close" << true << false;
        QTest::newRow("Escape, declined with Escape") << "escape" << false << true;
        QTest::newRow("Escape, error state") << "escape" << true << false;
    }

    void cancelAsksForConfirmation()
    {
        QFETCH(QString, ask);
        QFETCH(bool, failed);
        QFETCH(bool, declineWithEscape);
        g_global.m_language = "en";
        g_global.ResetRunEnd();
        DwonDialog dialog;
        dialog.InitUpdateInfo();
        dialog.show();
        if (failed)
            dialog.UpdateErrorState("Download timed out");
        const auto button = [&](const char* name) { return dialog.findChild<QPushButton*>(name); };
        // What covers the lower middle of the window: nothing, the panel, or its dock left empty.
        const auto overlay = [&] {
            if (!dialog.findChild<QDockWidget*>("dockWidget")->isVisible())
                return "none";
            return dialog.findChild<QDialog*>("NetDialog")->isVisible() ? "panel" : "empty dock";
        };
        const auto askToCancel = [&] {
            if (ask == "cancel")
                button("cancleBtn")->click();
            else if (ask == "close")
                dialog.close();
            else
                QTest::keyClick(&dialog, Qt::Key_Escape);
        };

        askToCancel();
        QCOMPARE(overlay(), "panel");
        if (declineWithEscape) {
            button("sbtn")->setFocus();
            QTest::keyClick(button("sbtn"), Qt::Key_Escape);
        } else {
            button("cbtn")->click();
        }
        QCOMPARE(overlay(), "none");
        QVERIFY(dialog.isVisible());
        QVERIFY(!g_global.IsRunEnded());

        askToCancel();
        QCOMPARE(overlay(), "panel");
        button("sbtn")->click();
        QVERIFY(g_global.IsRunEnded());
    }
};

QTEST_MAIN(TestDwonDialog)
#include "tst_dwondialog.moc"
