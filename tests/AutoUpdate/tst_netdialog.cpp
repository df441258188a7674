#include "global.h"
#include "netdialog.h"
#include "testhome.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestNetDialog : public QObject
{
    Q_OBJECT

    TestHome m_home;

private slots:
    void cleanup()
    {
        g_global.m_language.clear();
        g_global.ResetRunEnd();
    }

    void texts_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("en") << "en" << QStringList{"Update Cancel?", "Cancel", "OK"};
        for (const char* language : {"zh", "EN", ""})
            QTest::newRow(*language ? language : "empty")
                << language << QStringList{"确定取消更新?", "取消", "确定"};
    }

    void texts()
    {
        QFETCH(QString, language);
        g_global.m_language = language;
        NetDialog panel;
        const QStringList texts{panel.findChild<QLabel*>("lab")->text(),
                                panel.findChild<QPushButton*>("cbtn")->text(),
                                panel.findChild<QPushButton*>("sbtn")->text()};
        QTEST(texts, "texts");
    }

    void answers_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("declined");
        QTest::addColumn<int>("confirmed");
        QTest::newRow("decline") << "cbtn" << 1 << 0;
        QTest::newRow("confirm") << "sbtn" << 0 << 1;
    }

    void answers()
    {
        QFETCH(QString, button);
        NetDialog panel;
        QSignalSpy declined(&panel, &NetDialog::cancleSignal);
        QSignalSpy confirmed(&panel, &NetDialog::sureSignal);

        panel.findChild<QPushButton*>(button)->click();

        QTRY_COMPARE(declined.count() + confirmed.count(), 1);
        QTEST(declined.count(), "declined");
        QTEST(confirmed.count(), "confirmed");
        QVERIFY(!g_global.IsRunEnded());
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
