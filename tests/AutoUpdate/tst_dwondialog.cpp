#include "dwondialog.h"
#include "fakeplatform.h"
#include "global.h"
#include "testhome.h"

#include <QDockWidget>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {
const QString kMessage = QStringLiteral("Download timed out");
constexpr qint64 kGiB = qint64(1) << 30;
constexpr qint64 kPackage = 36996000;
} // namespace

class TestDwonDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<DwonDialog> m_dialog;

    void open()
    {
        m_dialog = std::make_unique<DwonDialog>();
        m_dialog->InitUpdateInfo();
        m_dialog->show();
    }
    template <class T> T* child(const QString& name) const { return m_dialog->findChild<T*>(name); }
    QString text(const QString& name) const
    {
        return m_dialog->findChild<QWidget*>(name)->property("text").toString();
    }
    QDockWidget* panel() const { return child<QDockWidget>("dockWidget"); }

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        m_platform = std::make_unique<FakePlatform>();
        g_global.m_language = QStringLiteral("en");
        g_global.m_latestVersion = QStringLiteral("2.0.1");
        g_global.m_packageSize = kPackage;
    }

    void cleanup()
    {
        m_dialog.reset();
        m_platform.reset();
        m_home.reset();
        g_global.m_language.clear();
        g_global.m_latestVersion.clear();
        g_global.m_packageSize = 0;
        g_global.ResetRunEnd();
    }

    // Title, product label, version line, status and button.
    void startTexts_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("en") << "en"
                            << QStringList{"App Update", "QUORVEX",
                                           "Version V2.0.1  Update Package 35.28M",
                                           "installing......0%", "Cancel"};
        for (const char* language : {"zh", "EN", ""}) {
            QTest::newRow(*language ? language : "empty")
                << language
                << QStringList{"应用更新", "QUORVEX", "版本号V2.0.1  更新包 35.28M",
                               "正在安装中......0%", "取消"};
        }
    }

    void startTexts()
    {
        QFETCH(QString, language);
        g_global.m_language = language;
        open();
        const QStringList texts{m_dialog->windowTitle(), text("labText"), text("labVersion"),
                                text("labInstall"), text("cancleBtn")};
        QTEST(texts, "texts");
        QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);
        QVERIFY(!panel()->isVisible());
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("mebibytes");
        QTest::newRow("empty") << qint64(0) << "0.00";
        QTest::newRow("one MiB") << qint64(1048576) << "1.00";
        QTest::newRow("one and a half") << qint64(1572864) << "1.50";
        QTest::newRow("rounded down") << qint64(1050000) << "1.00";
        QTest::newRow("rounded up") << kPackage << "35.28";
    }

    void sizeText()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, mebibytes);
        g_global.m_packageSize = bytes;
        open();
        QCOMPARE(text("labVersion"), "Version V2.0.1  Update Package " + mebibytes + "M");
    }

    void progressText_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<qint64>("bytesRead");
        QTest::addColumn<qint64>("totalBytes");
        QTest::addColumn<QString>("status");
        QTest::newRow("none") << "en" << qint64(0) << qint64(1000) << "installing......0%";
        QTest::newRow("truncated") << "en" << qint64(999) << qint64(1000) << "installing......99%";
        QTest::newRow("all") << "en" << qint64(1000) << qint64(1000) << "installing......100%";
        QTest::newRow("beyond") << "en" << qint64(1500) << qint64(1000) << "installing......150%";
        QTest::newRow("total 0") << "en" << qint64(13107200) << qint64(0)
                                 << "installing......12.50M";
        QTest::newRow("total -1") << "en" << qint64(13107200) << qint64(-1)
                                  << "installing......12.50M";
        QTest::newRow("zh") << "zh" << qint64(999) << qint64(1000) << "正在安装中......99%";
        QTest::newRow("zh total -1")
            << "zh" << qint64(13107200) << qint64(-1) << "正在安装中......12.50M";
    }

    void progressText()
    {
        QFETCH(QString, language);
        QFETCH(qint64, bytesRead);
        QFETCH(qint64, totalBytes);
        g_global.m_language = language;
        open();
        m_dialog->UpdateProgressBar(bytesRead, totalBytes);
        QTEST(text("labInstall"), "status");
    }

    void largePackageKeepsTheBarProportional_data()
    {
        QTest::addColumn<qint64>("packageSize");
        QTest::addColumn<qint64>("bytesRead");
        QTest::newRow("2 GiB, half") << 2 * kGiB << kGiB;
        QTest::newRow("5 GiB, a fifth") << 5 * kGiB << kGiB;
        QTest::newRow("5 GiB, all") << 5 * kGiB << 5 * kGiB;
    }

    void largePackageKeepsTheBarProportional()
    {
        QFETCH(qint64, packageSize);
        QFETCH(qint64, bytesRead);
        g_global.m_packageSize = packageSize;
        open();
        m_dialog->UpdateProgressBar(bytesRead, packageSize);
        const QProgressBar* bar = child<QProgressBar>("progressBar");
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(qint64(bar->value()) * packageSize, qint64(bar->maximum()) * bytesRead);
    }

    // Free bytes per volume, -1 for a failing query; more than three times the package is room.
    void retry_data()
    {
        QTest::addColumn<qint64>("systemFree");
        QTest::addColumn<qint64>("workingFree");
        QTest::addColumn<bool>("retried");
        const qint64 needed = 3 * kPackage;
        QTest::newRow("room on both") << needed + 1 << needed + 1 << true;
        QTest::newRow("exactly three times on C") << needed << 100 * kGiB << false;
        QTest::newRow("no room on D") << 100 * kGiB << needed << false;
        QTest::newRow("C unreadable") << qint64(-1) << 100 * kGiB << false;
    }

    void retry()
    {
        QFETCH(qint64, systemFree);
        QFETCH(qint64, workingFree);
        QFETCH(bool, retried);
        if (systemFree < 0)
            m_platform->setFreeSpaceError(QStringLiteral("C:\\"), 5);
        else
            m_platform->setFreeSpace(QStringLiteral("C:\\"), systemFree);
        m_platform->setFreeSpace(QStringLiteral("D:/"), workingFree);
        open();
        m_dialog->UpdateProgressBar(1000, kPackage);
        emit m_dialog->ErrSignal(kMessage);
        QTRY_COMPARE(text("labInstall"), kMessage);
        QStringList statusWhenAskedAgain;
        connect(m_dialog.get(), &DwonDialog::GetPackAgain, this,
                [&] { statusWhenAskedAgain << text("labInstall"); });

        child<QPushButton>("cancleBtn")->click();

        QCOMPARE(statusWhenAskedAgain, retried ? QStringList{kMessage} : QStringList{});
        QCOMPARE(text("labInstall"), retried ? QStringLiteral("installing......0%") : kMessage);
        QCOMPARE(text("cancleBtn"), QString(retried ? "Cancel" : "Retry"));
        QCOMPARE(child<QLabel>("labInstall")->styleSheet(),
                 QString(retried ? "color:black;" : "color:rgba(250,81,81,1);"));
        QCOMPARE(child<QProgressBar>("progressBar")->value(), retried ? 0 : 1000);
    }

    void cancelAsksForConfirmation_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("runEnded");
        QTest::newRow("declined") << "cbtn" << false;
        QTest::newRow("confirmed") << "sbtn" << true;
    }

    void cancelAsksForConfirmation()
    {
        QFETCH(QString, answer);
        QFETCH(bool, runEnded);
        open();
        child<QPushButton>("cancleBtn")->click();
        QVERIFY(panel()->isVisible());

        child<QPushButton>(answer)->click();

        QTRY_COMPARE(g_global.IsRunEnded(), runEnded);
        QCOMPARE(panel()->isVisible(), runEnded);
        m_dialog->UpdateProgressBar(750, 1000);
        QCOMPARE(text("labInstall"), QStringLiteral("installing......75%"));
        child<QPushButton>("cancleBtn")->click();
        QVERIFY(panel()->isVisible());
    }

    void closeButtonAsksForConfirmation_data()
    {
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("caption");
        QTest::newRow("normal") << false << "Cancel";
        QTest::newRow("error") << true << "Retry";
    }

    void closeButtonAsksForConfirmation()
    {
        QFETCH(bool, failed);
        open();
        if (failed)
            m_dialog->UpdateErrorState(kMessage);

        m_dialog->close();

        QVERIFY(m_dialog->isVisible());
        QVERIFY(panel()->isVisible());
        QTEST(text("cancleBtn"), "caption");
        QVERIFY(!g_global.IsRunEnded());
    }
};

QTEST_MAIN(TestDwonDialog)
#include "tst_dwondialog.moc"
