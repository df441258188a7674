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

struct Progress
{
    QString language;
    qint64 packageSize, bytesRead, totalBytes;
    QString size, status;
};

enum class Ask { CancelButton, CloseButton, Escape };
struct Cancel
{
    bool failed;
    Ask ask;
    // Escape inside the panel, with its OK button focused, instead of the panel's cancel button.
    bool declineWithEscape;
};
} // namespace
Q_DECLARE_METATYPE(Progress)
Q_DECLARE_METATYPE(Cancel)

class TestDwonDialog : public QObject
{
    Q_OBJECT

    TestHome m_home;
    FakePlatform m_platform;
    std::unique_ptr<DwonDialog> m_dialog;

    void open(const QString& language, qint64 packageSize)
    {
        g_global.m_language = language;
        g_global.m_packageSize = packageSize;
        g_global.ResetRunEnd();
        m_dialog = std::make_unique<DwonDialog>();
        m_dialog->InitUpdateInfo();
        m_dialog->show();
    }
    template <class T> T* child(const char* name) const { return m_dialog->findChild<T*>(name); }
    QString status() const { return child<QLabel>("labInstall")->text(); }
    // What covers the lower middle of the window: nothing, the panel, or its dock left empty.
    QString overlay() const
    {
        if (!child<QDockWidget>("dockWidget")->isVisible())
            return "none";
        return child<QDialog>("NetDialog")->isVisible() ? "panel" : "empty dock";
    }

private slots:
    // The version line and the bar follow the package size; the status line the reported total.
    void progress_data()
    {
        QTest::addColumn<Progress>("c");
        const auto row = [](const char* name, const Progress& c) { QTest::newRow(name) << c; };
        row("0 B", {"en", 0, 0, 1000, "0.00", "installing......0%"});
        row("1 MiB, 999 of 1000", {"en", 1048576, 999, 1000, "1.00", "installing......99%"});
        row("1.5 MiB, all", {"en", 1572864, 1000, 1000, "1.50", "installing......100%"});
        row("1,050,000 B, beyond total",
            {"en", 1050000, 1500, 1000, "1.00", "installing......150%"});
        row("total 0", {"en", kPackage, 13107200, 0, "35.28", "installing......12.50M"});
        row("total -1", {"en", kPackage, 13107200, -1, "35.28", "installing......12.50M"});
        for (const char* language : {"zh", "EN", ""})
            row(*language ? language : "empty",
                {language, kPackage, 0, 1000, "35.28", "正在安装中......0%"});
        row("2 GiB, half", {"en", 2 * kGiB, kGiB, 2 * kGiB, "2048.00", "installing......50%"});
        row("5 GiB, a fifth", {"en", 5 * kGiB, kGiB, 5 * kGiB, "5120.00", "installing......20%"});
    }

    void progress()
    {
        QFETCH(Progress, c);
        open(c.language, c.packageSize);

        m_dialog->UpdateProgressBar(c.bytesRead, c.totalBytes);

        const QString version = child<QLabel>("labVersion")->text();
        QVERIFY2(version.endsWith(" " + c.size + "M"), qPrintable(version));
        QCOMPARE(status(), c.status);
        const QProgressBar* bar = child<QProgressBar>("progressBar");
        QCOMPARE(bar->maximum() > 0, c.packageSize > 0);
        QCOMPARE(qint64(bar->value()) * c.packageSize, qint64(bar->maximum()) * c.bytesRead);
    }

    // Three times the package is too little room.
    void retry_data()
    {
        QTest::addColumn<QString>("fullVolume");
        QTest::newRow("room on both") << QString();
        QTest::newRow("no room on C") << QString("C");
        QTest::newRow("no room on D") << QString("D");
    }

    void retry()
    {
        QFETCH(QString, fullVolume);
        const bool retried = fullVolume.isEmpty();
        m_platform.setFreeSpace("C:\\", fullVolume == "C" ? 3 * kPackage : 100 * kGiB);
        m_platform.setFreeSpace("D:/", fullVolume == "D" ? 3 * kPackage : 100 * kGiB);
        open("en", kPackage);
        emit m_dialog->ErrSignal(kMessage);
        QStringList statusWhenAskedAgain;
        connect(m_dialog.get(), &DwonDialog::GetPackAgain, this,
                [&] { statusWhenAskedAgain << status(); });

        child<QPushButton>("cancleBtn")->click();

        QCOMPARE(statusWhenAskedAgain, retried ? QStringList{kMessage} : QStringList());
        QCOMPARE(status(), retried ? QStringLiteral("installing......0%") : kMessage);
        QCOMPARE(child<QPushButton>("cancleBtn")->text(), QString(retried ? "Cancel" : "Retry"));
    }

    // Declining must leave the update running and the panel ready to be asked again.
    void cancelAsksForConfirmation_data()
    {
        QTest::addColumn<Cancel>("c");
        const auto row = [](const char* name, const Cancel& c) { QTest::newRow(name) << c; };
        row("cancel button", {false, Ask::CancelButton, false});
        row("close button", {false, Ask::CloseButton, false});
        row("close button, error state", {true, Ask::CloseButton, false});
        row("Escape, declined with Escape", {false, Ask::Escape, true});
        row("Escape, error state", {true, Ask::Escape, false});
        row("cancel button, declined with Escape", {false, Ask::CancelButton, true});
    }

    void cancelAsksForConfirmation()
    {
        QFETCH(Cancel, c);
        open("en", kPackage);
        if (c.failed)
            m_dialog->UpdateErrorState(kMessage);
        const auto askToCancel = [&] {
            switch (c.ask) {
            case Ask::CancelButton:
                child<QPushButton>("cancleBtn")->click();
                break;
            case Ask::CloseButton:
                m_dialog->close();
                break;
            case Ask::Escape:
                QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
                break;
            }
        };

        askToCancel();
        QCOMPARE(overlay(), QString("panel"));
        if (c.declineWithEscape) {
            child<QPushButton>("sbtn")->setFocus();
            QTest::keyClick(child<QPushButton>("sbtn"), Qt::Key_Escape);
        } else {
            child<QPushButton>("cbtn")->click();
        }
        QCOMPARE(overlay(), QString("none"));
        QVERIFY(m_dialog->isVisible());
        QVERIFY(!g_global.IsRunEnded());

        askToCancel();
        QCOMPARE(overlay(), QString("panel"));
        child<QPushButton>("sbtn")->click();
        QVERIFY(g_global.IsRunEnded());
    }
};

QTEST_MAIN(TestDwonDialog)
#include "tst_dwondialog.moc"
