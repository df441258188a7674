#ifndef TESTHOME_H
#define TESTHOME_H

#include "clientfiles.h"

#include <QByteArray>
#include <QDir>
#include <QProcess>
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

#ifdef Q_OS_WIN
    TestHome() : m_path(QDir::homePath())
    {
        for (const QString& folder : userFolders())
            move(filePath(folder), m_dir.filePath(folder));
    }
    ~TestHome()
    {
        for (const QString& folder : userFolders()) {
            QDir(filePath(folder)).removeRecursively();
            move(m_dir.filePath(folder), filePath(folder));
        }
    }

private:
    static QStringList userFolders()
    {
        return {QStringLiteral("AppData/Roaming/AutoUpdate"),
                QStringLiteral("AppData/Roaming/quorvexAssistant")};
    }
    static void move(const QString& from, const QString& to)
    {
        QDir().mkpath(QFileInfo(to).absolutePath());
        if (QFileInfo::exists(from) && !QDir().rename(from, to))
            qFatal("TestHome: cannot move %s to %s", qPrintable(from), qPrintable(to));
    }
#else
    TestHome() : m_previousHome(qgetenv("HOME")), m_path(m_dir.path())
    {
        qputenv("HOME", QFile::encodeName(m_path));
    }
    ~TestHome()
    {
        for (const QString& folder : qAsConst(m_mounts))
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), folder});
        qputenv("HOME", m_previousHome);
    }

    // Puts an empty file system of the given size at folder, below the profile, until the profile
    // goes. False where the test may not mount one.
    bool mountSmallDisk(const QString& folder, int kib)
    {
        QDir().mkpath(folder);
        const QStringList options{"-t", "tmpfs", "-o", QStringLiteral("size=%1k").arg(kib)};
        if (QProcess::execute(QStringLiteral("mount"), options + QStringList{"tmpfs", folder}) != 0)
            return false;
        m_mounts.append(folder);
        return true;
    }

private:
    QStringList m_mounts;
    QByteArray m_previousHome;
#endif
    // Unix: the profile folder. Windows: where the user's own per-user folders wait.
    QTemporaryDir m_dir;
    QString m_path;
};

#endif // TESTHOME_H
