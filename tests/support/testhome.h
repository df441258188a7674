#pragma once

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A profile folder of the test's own while the object lives: a temporary folder that HOME, and
// so QDir::homePath() and the per-user folders below it, point at.
class TestHome
{
public:
    TestHome() : m_previousHome(qgetenv("HOME")) { qputenv("HOME", QFile::encodeName(path())); }
    ~TestHome()
    {
        for (const QString& folder : qAsConst(m_mounts))
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), folder});
        qputenv("HOME", m_previousHome);
    }
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString path() const { return m_dir.path(); }
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
    QTemporaryDir m_dir;
    QByteArray m_previousHome;
    QStringList m_mounts;
};
