#ifndef TESTHOME_H
#define TESTHOME_H

#include "clientfiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A profile folder of the test's own while the object lives, as QDir::homePath() gives it.
// Where HOME names the profile, it is a temporary folder that HOME points at. Windows gives a
// program its user's real profile whatever the environment says: there the updater's and the
// client's per-user folders are set aside and given back afterwards.
class TestHome
{
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString filePath(const QString& relative) const { return m_path + '/' + relative; }
    QString updaterDir() const { return filePath(QStringLiteral("AppData/Roaming/AutoUpdate")); }
    QString clientDataDir() const
    {
        return filePath(QStringLiteral("AppData/Roaming/quorvexAssistant"));
    }
    QByteArray readFile(const QString& relative) const
    {
        return ClientFiles::read(filePath(relative));
    }
    // Puts an empty file system of the given size at folder, below the profile, until the profile
    // goes. False where the test may not mount one.
    bool mountSmallDisk(const QString& folder, int kib);

private:
    // Unix: the profile folder. Windows: where the user's own per-user folders wait.
    QTemporaryDir m_dir;
    QString m_path;
    QStringList m_mounts;
#ifndef Q_OS_WIN
    QByteArray m_previousHome;
#endif
};

#endif // TESTHOME_H
