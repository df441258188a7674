#include "dwondialog.h"
#include "fakeplatform.h"
#include "global.h"
#include "testhome.h"
#include "updatedialog.h"

#include <QCheckBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

namespace {
const QString kAppName = QStringLiteral("quorvex.exe");
const QString kAppPath = QStringLiteral("/opt/quorvex/");
const QString kNotes = QStringLiteral("Faster meeting links");
constexpr qint64 kPackage = 36996000;
constexpr qint64 kPlenty = qint64(100) << 30;
} // namespace

class TestUpdateDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<UpdateDialog> m_prompt;

    void open(const QString& mode)
    {
        g_global.m_updateMode = mode;
        m_prompt = std::make_unique<UpdateDialog>();
        m_prompt->updateMode(mode);
    }
    template <class T> T* child(const QString& name) const { return m_prompt->findChild<T*>(name); }
    QCheckBox* checkBox() const { return child<QCheckBox>("checkRemid"); }
    QPushButton* laterButton() const { return child<QPushButton>("laterBtn"); }
    void prepareUserFolder(bool writable) const
    {
        QDir folder(m_home->updaterDir());
        writable ? folder.mkpath(".") : folder.removeRecursively();
    }
    QJsonObject userState() const
    {
        const QByteArray file = m_home->readFile("AppData/Roaming/AutoUpdate/updateconfig.json");
        return QJsonDocument::fromJson(file).object();
    }

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        m_platform = std::make_unique<FakePlatform>();
        g_global.m_language = QStringLiteral("en");
        g_global.m_appName = kAppName;
        g_global.m_appPath = kAppPath;
        g_global.m_latestVersion = QStringLiteral("2.0.1");
        g_global.m_latestVersionInfo = kNotes;
        g_global.m_packageSize = kPackage;
    }

    void cleanup()
    {
        if (m_prompt)
            delete m_prompt->m_dwonDlg;
        m_prompt.reset();
        m_platform.reset();
        m_home.reset();
        for (QString* text :
             {&g_global.m_language, &g_global.m_appName, &g_global.m_appPath,
              &g_global.m_latestVersion, &g_global.m_latestVersionInfo, &g_global.m_updateMode})
            text->clear();
        g_global.m_packageSize = 0;
        g_global.m_args.clear();
        g_global.ResetRunEnd();
    }

    // Title, headline, version line, later, update and check box.
    void promptTexts_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("headlineSize");
        const QString version = QStringLiteral("Version V2.0.1  Update Package 35.28M");
        const QString chineseVersion = QStringLiteral("版本号V2.0.1  更新包 35.28M");
        const QString normal = QStringLiteral("检测到新版本，是否更新?");
        const QString forced = QStringLiteral("检测到新版本，更新后才能正常使用，请立即更新");
        const QStringList buttons{"稍后更新", "立即更新", "不再提醒"};

        QTest::newRow("en normal")
            << "en"
            << "1" << QStringList{"App Update", "New version detected, update?",
                                  version,      "Later",
                                  "Update",     "Never Prompt"}
            << "16px";
        QTest::newRow("en forced")
            << "en"
            << "2"
            << QStringList{"App Update", "New version detected. Please update now for normal use.",
                           version,      "Later",
                           "Update",     "Never Prompt"}
            << "12px";
        QTest::newRow("zh normal")
            << "zh"
            << "1" << QStringList{"应用更新", normal, chineseVersion} + buttons << "16px";
        QTest::newRow("zh other mode")
            << "zh"
            << "0" << QStringList{"应用更新", forced, chineseVersion} + buttons << "16px";
        QTest::newRow("EN forced")
            << "EN"
            << "2" << QStringList{"应用更新", forced, chineseVersion} + buttons << "16px";
        QTest::newRow("empty normal")
            << ""
            << "1" << QStringList{"应用更新", normal, chineseVersion} + buttons << "16px";
    }

    void promptTexts()
    {
        QFETCH(QString, language);
        QFETCH(QString, mode);
        QFETCH(QString, headlineSize);
        g_global.m_language = language;
        open(mode);

        const QStringList texts{m_prompt->windowTitle(),
                                child<QLabel>("labText")->text(),
                                child<QLabel>("labVersion")->text(),
                                laterButton()->text(),
                                child<QPushButton>("immedBtn")->text(),
                                checkBox()->text()};
        QTEST(texts, "texts");
        QVERIFY(child<QLabel>("labText")->styleSheet().contains("font-size:" + headlineSize));
        QVERIFY(m_prompt->isVisible());
        QCOMPARE(laterButton()->isVisible(), mode == "1");
        QCOMPARE(checkBox()->isVisible(), mode == "1");
        QCOMPARE(child<QTextEdit>("updateText")->toPlainText(), kNotes);
    }

    void noRemindHidesTheCheckBox()
    {
        g_global.m_args = QStringList{"--lang=zh", "-noremid"};
        open("1");
        QVERIFY(!checkBox()->isVisible());
        QVERIFY(laterButton()->isVisible());
    }

    void updateNow_data()
    {
        QTest::addColumn<bool>("fromSwitch");
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("clientRunning");
        QTest::addColumn<qint64>("systemFree");
        QTest::addColumn<qint64>("workingFree");
        QTest::addColumn<QString>("status");
        const qint64 tooLittle = 3 * kPackage;
        const QString started = QStringLiteral("installing......0%");
        QTest::newRow("-immediately, client running")
            << true << "en" << true << kPlenty << kPlenty << started;
        QTest::newRow("button") << false << "en" << false << kPlenty << kPlenty << started;
        QTest::newRow("-immediately, C full") << true << "en" << false << tooLittle << kPlenty
                                              << "Disk out of space on C, update failed.";
        QTest::newRow("both full") << false << "en" << false << tooLittle << tooLittle
                                   << "Disk out of space on C, update failed.";
        QTest::newRow("D full") << false << "en" << false << kPlenty << tooLittle
                                << "Disk out of space on D, update failed.";
        QTest::newRow("D full, zh")
            << false << "zh" << false << kPlenty << tooLittle << "D 磁盘空间不足，更新失败!";
    }

    void updateNow()
    {
        QFETCH(bool, fromSwitch);
        QFETCH(QString, language);
        QFETCH(bool, clientRunning);
        QFETCH(qint64, systemFree);
        QFETCH(qint64, workingFree);
        QFETCH(QString, status);
        g_global.m_language = language;
        if (fromSwitch)
            g_global.m_args = QStringList{"-immediately"};
        m_platform->setProcessListings({clientRunning ? "\"quorvex.exe\",\"4242\"" : ""});
        m_platform->setFreeSpace(QStringLiteral("C:\\"), systemFree);
        m_platform->setFreeSpace(QStringLiteral("D:/"), workingFree);
        m_prompt = std::make_unique<UpdateDialog>();
        QSignalSpy getPack(m_prompt.get(), &UpdateDialog::getPack);

        m_prompt->updateMode("1");
        if (!fromSwitch)
            child<QPushButton>("immedBtn")->click();

        QVERIFY(!m_prompt->isVisible());
        QVERIFY(m_prompt->m_dwonDlg->isVisible());
        QTRY_COMPARE(m_prompt->m_dwonDlg->findChild<QLabel*>("labInstall")->text(), status);
        QCOMPARE(getPack.count(), status.startsWith("installing") ? 1 : 0);
        QCOMPARE(m_platform->kills(), clientRunning ? QStringList{kAppName} : QStringList{});
    }

    void later_data()
    {
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("relaunched");
        QTest::newRow("unticked") << false << true << true;
        QTest::newRow("ticked") << true << true << true;
        QTest::newRow("ticked, write fails") << true << false << false;
        QTest::newRow("unticked, folder missing") << false << false << true;
    }

    void later()
    {
        QFETCH(bool, ticked);
        QFETCH(bool, writable);
        QFETCH(bool, relaunched);
        prepareUserFolder(writable);
        g_global.m_args = QStringList{"-noremid", "--lang=zh"};
        open("1");
        checkBox()->setChecked(ticked);

        laterButton()->click();

        QVERIFY(g_global.IsRunEnded());
        const QList<FakePlatform::Start> starts = m_platform->starts();
        QCOMPARE(starts.size(), relaunched ? 1 : 0);
        if (relaunched) {
            QCOMPARE(starts.first().program, kAppPath + kAppName);
            QCOMPARE(starts.first().arguments, QStringList{"-autoupdate"});
        }
        const bool recorded = ticked && writable;
        QCOMPARE(userState().value("noRemindVersion").toString(), QString(recorded ? "2.0.1" : ""));
        QCOMPARE(userState().value("noRemind").toInt(), recorded ? 1 : 0);
    }

    void closeButton_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("runEnded");
        QTest::addColumn<bool>("relaunched");
        QTest::newRow("normal") << "1" << false << true << true;
        QTest::newRow("normal, ticked") << "1" << true << true << true;
        QTest::newRow("forced") << "2" << false << true << false;
        QTest::newRow("other") << "3" << false << false << false;
    }

    void closeButton()
    {
        QFETCH(QString, mode);
        QFETCH(bool, ticked);
        prepareUserFolder(true);
        open(mode);
        checkBox()->setChecked(ticked);

        m_prompt->close();

        QVERIFY(!m_prompt->isVisible());
        QTEST(g_global.IsRunEnded(), "runEnded");
        QTEST(!m_platform->starts().isEmpty(), "relaunched");
        QCOMPARE(userState().value("noRemind").toInt(), ticked ? 1 : 0);
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
