#include "global.h"
#include "netdialog.h"
#include "testhome.h"

#include <QLabel>
#include <QTest>

// The panel's buttons are exercised through the progress dialog that acts on them.
class TestNetDialog : public QObject
{
    Q_OBJECT

    TestHome m_home;

private slots:
    void language_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("question");
        QTest::newRow("en") << QString("en") << "Update Cancel?";
        for (const char* language : {"zh", "EN", ""})
            QTest::newRow(*language ? language : "empty") << language << "确定取消更新?";
    }

    void language()
    {
        QFETCH(QString, language);
        g_global.m_language = language;
        NetDialog panel;
        QTEST(panel.findChild<QLabel*>("lab")->text(), "question");
    }

    void closingThePanelEndsTheRun()
    {
        NetDialog panel;
        panel.show();
        panel.close();
        QVERIFY(g_global.IsRunEnded());
    }
};

QTEST_MAIN(TestNetDialog)
#include "tst_netdialog.moc"
