#include "dwondialog.h"
#include "fakeplatform.h"
#include "global.h"
#include "testhome.h"
#include "updatedialog.h"

#include <QCheckBox>
#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
const QString kAppName = QStringLiteral("quorvex.exe");
constexpr qint64 kPackage = 36996000;

struct Prompt
{
    QString language, mode;
    QStringList args;
    QString headline;
    bool laterShown, boxShown;
};
enum class Leave { LaterButton, CloseButton, Escape };
struct Later
{
    QString mode;
    Leave leave;
    bool ticked, writable, relaunched;
};
} // namespace
Q_DECLARE_METATYPE(Prompt)
Q_DECLARE_METATYPE(Later)

class TestUpdateDialog : public QObject
{
    Q_OBJECT

    TestHome m_home;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<UpdateDialog> m_prompt;

    template <class T> T* child(const char* name) const { return m_prompt->findChild<T*>(name); }

private slots:
    void initTestCase()
    {
        g_global.m_appName = kAppName;
        g_global.m_packageSize = kPackage;
    }

    void init()
    {
        m_platform = std::make_unique<FakePlatform>();
        m_prompt = std::make_unique<UpdateDialog>();
    }

    void cleanup()
    {
        delete m_prompt->m_dwonDlg;
        m_prompt.reset();
        m_platform.reset();
        g_global.ResetRunEnd();
    }

    // Any mode but "1" is forced.
    void prompt_data()
    {
        QTest::addColumn<Prompt>("c");
        const auto row = [](const char* name, const Prompt& c) { QTest::newRow(name) << c; };
        const QString normal = QStringLiteral("检测到新版本，是否更新?");
        const QString forced = QStringLiteral("检测到新版本，更新后才能正常使用，请立即更新");
        const QString forcedEn =
            QStringLiteral("New version detected. Please update now for normal use.");
        row("en normal", {"en", "1", {}, "New version detected, update?", true, true});
        row("en forced", {"en", "2", {}, forcedEn, false, false});
        row("zh normal", {"zh", "1", {}, normal, true, true});
        row("EN forced", {"EN", "2", {}, forced, false, false});
        row("empty, mode 0", {"", "0", {}, forced, false, false});
        row("-noremid", {"zh", "1", {"-noremid"}, normal, true, false});
    }

    void prompt()
    {
        QFETCH(Prompt, c);
        g_global.m_language = c.language;
        g_global.m_args = c.args;

        m_prompt->updateMode(c.mode);

        QCOMPARE(child<QLabel>("labText")->text(), c.headline);
        QCOMPARE(child<QPushButton>("laterBtn")->isVisible(), c.laterShown);
        QCOMPARE(child<QCheckBox>("checkRemid")->isVisible(), c.boxShown);
    }

    // Three times the package is too little room; C is named first when both lack it.
    void updateNow_data()
    {
        QTest::addColumn<bool>("fromSwitch");
        QTest::addColumn<QString>("fullVolumes");
        QTest::addColumn<QString>("status");
        const QString started = QStringLiteral("installing......0%");
        QTest::newRow("-immediately") << true << QString() << started;
        QTest::newRow("button") << false << QString() << started;
        QTest::newRow("-immediately, C and D full") << true << "CD"
                                                    << "Disk out of space on C, update failed.";
        QTest::newRow("button, D full") << false << "D"
                                        << "Disk out of space on D, update failed.";
    }

    void updateNow()
    {
        QFETCH(bool, fromSwitch);
        QFETCH(QString, fullVolumes);
        QFETCH(QString, status);
        g_global.m_language = QStringLiteral("en");
        g_global.m_args = fromSwitch ? QStringList{"-immediately"} : QStringList();
        m_platform->setProcessListings({"\"quorvex.exe\",\"4242\""});
        for (const QString& volume : {QStringLiteral("C:\\"), QStringLiteral("D:/")})
            m_platform->setFreeSpace(volume, fullVolumes.contains(volume[0]) ? 3 * kPackage
                                                                             : 100 * kPackage);
        QSignalSpy getPack(m_prompt.get(), &UpdateDialog::getPack);

        m_prompt->updateMode("1");
        if (!fromSwitch)
            child<QPushButton>("immedBtn")->click();

        QVERIFY(!m_prompt->isVisible());
        QVERIFY(m_prompt->m_dwonDlg->isVisible());
        QCOMPARE(m_prompt->m_dwonDlg->findChild<QLabel*>("labInstall")->text(), status);
        QCOMPARE(getPack.count(), fullVolumes.isEmpty() ? 1 : 0);
        QCOMPARE(m_platform->kills(), QStringList{kAppName});
    }

    // The close button of the normal prompt means "later"; of the forced one, no update at all.
    // Escape means what the close button means.
    void later_data()
    {
        QTest::addColumn<Later>("c");
        const auto row = [](const char* name, const Later& c) { QTest::newRow(name) << c; };
        row("unticked", {"1", Leave::LaterButton, false, true, true});
        row("ticked", {"1", Leave::LaterButton, true, true, true});
        row("ticked, write fails", {"1", Leave::LaterButton, true, false, false});
        row("close, ticked", {"1", Leave::CloseButton, true, true, true});
        row("close, forced", {"2", Leave::CloseButton, false, true, false});
        row("Escape, ticked", {"1", Leave::Escape, true, true, true});
        row("Escape, forced", {"2", Leave::Escape, false, true, false});
    }

    void later()
    {
        QFETCH(Later, c);
        QDir folder(m_home.updaterDir());
        folder.removeRecursively();
        if (c.writable)
            folder.mkpath(".");
        // Whatever the updater was started with, the client is started with "-autoupdate" alone.
        g_global.m_args = QStringList{"--lang=zh"};
        g_global.m_updateMode = c.mode;
        m_prompt->updateMode(c.mode);
        child<QCheckBox>("checkRemid")->setChecked(c.ticked);

        switch (c.leave) {
        case Leave::LaterButton:
            child<QPushButton>("laterBtn")->click();
            break;
        case Leave::CloseButton:
            m_prompt->close();
            break;
        case Leave::Escape:
            QTest::keyClick(m_prompt.get(), Qt::Key_Escape);
            break;
        }

        QVERIFY(g_global.IsRunEnded());
        const QList<FakePlatform::Start> starts = m_platform->starts();
        QCOMPARE(starts.size(), c.relaunched ? 1 : 0);
        if (c.relaunched)
            QCOMPARE(starts.first().arguments, QStringList{"-autoupdate"});
        const QByteArray state = m_home.readFile("AppData/Roaming/AutoUpdate/updateconfig.json");
        QCOMPARE(QJsonDocument::fromJson(state)["noRemind"].toInt(),
                 c.ticked && c.writable ? 1 : 0);
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
