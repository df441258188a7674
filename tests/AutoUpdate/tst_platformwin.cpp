#include "base/logfile.h"
#include "base/userpaths.h"
#include "check/launchrules.h"
#include "clientfiles.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

#include <aclapi.h>

namespace {

// Whether the path's access rules let nobody in but the system, administrators and the path's
// owner (who created it); what is wrong otherwise. Wine shows rules as it derives them from the
// file's mode bits, without the flag that keeps a parent's rules out, so that flag is not asked.
QString onlySystemAdministratorsAndOwner(const QString& path)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(reinterpret_cast<const wchar_t*>(path.utf16()), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return "no access rules read";
    QString wrong = !dacl || dacl->AceCount == 0 ? "no entries" : QString();
    for (DWORD i = 0; wrong.isEmpty() && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(dacl, i, &ace);
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !(IsWellKnownSid(sid, WinLocalSystemSid) ||
              IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || EqualSid(sid, owner)))
            wrong = QString("entry %1 lets someone else in").arg(i);
    }
    LocalFree(descriptor);
    return wrong;
}

} // namespace

// The parts of the Windows platform file that the program's runs under Wine do not show, against
// the system itself. The stand-in tasklist.exe lies beside this program, where its child
// processes are looked for first.
class TestPlatformWin : public QObject
{
    Q_OBJECT

private slots:
    // tasklist filters by image name ignoring case; the updater's own test of its output is
    // case-sensitive. Names are passed and read in the local code page.
    void processQuery_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("queried");
        QTest::addColumn<bool>("running");
        const QString client = QStringLiteral("QuorvexClient.exe");
        QTest::newRow("same name") << client << client << true;
        QTest::newRow("other letter case") << client << "quorvexclient.exe" << false;
        QTest::newRow("accented name") << "Café.exe"
                                       << "Café.exe" << true;
    }

    void processQuery()
    {
        QFETCH(QString, image);
        QFETCH(QString, queried);
        QFETCH(bool, running);
        QTemporaryDir dir;
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/QuorvexClient.exe",
                            dir.filePath(image)));
        QProcess client;
        client.start(dir.filePath(image), {"--linger"});
        QVERIFY(client.waitForStarted());
        const QString listing = Platform::current().queryProcesses(queried);
        client.kill();
        client.waitForFinished();
        QVERIFY2(listing.contains(image), qPrintable(listing));
        QCOMPARE(LaunchRules::isClientRunning(listing, queried), running);
    }

    // The elevated install's work folder, wherever it lies, lets nobody else in, where a folder
    // made as usual takes its parent's rules (under Wine: everyone may read); a folder that is
    // already there is not taken over.
    void privateFolder()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("work");
        QVERIFY(Platform::makePrivateFolder(folder));
        QCOMPARE(onlySystemAdministratorsAndOwner(QDir::toNativeSeparators(folder)), QString());
        QVERIFY(!Platform::makePrivateFolder(folder));
    }

    // Each line in the local code page, ended by "\r\n".
    void logFileUsesLocalCodePage()
    {
        // The log may hold a user's earlier runs: only what this test appends counts.
        const QString log = UserPaths::updaterDir() + "/AutoUpdate.log";
        const int earlier = ClientFiles::read(log).size();
        const QString text = QStringLiteral("Café 更新");
        LogFile::messageHandler(QtInfoMsg, {}, text);
        LogFile::messageHandler(QtInfoMsg, {}, text);
        const QByteArray content = ClientFiles::read(log).mid(earlier);
        const QList<QByteArray> lines = content.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(1).endsWith(" " + text.toLocal8Bit() + "\r"));
        if (QString("é").toLocal8Bit() != QString("é").toUtf8())
            QVERIFY(!content.contains(QString("é").toUtf8()));
    }
};

QTEST_MAIN(TestPlatformWin)
#include "tst_platformwin.moc"
