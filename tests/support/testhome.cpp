#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_WIN
namespace {
// The per-user folders of the updater and the client.
const QStringList kUserFolders{QStringLiteral("AppData/Roaming/AutoUpdate"),
                               QStringLiteral("AppData/Roaming/quorvexAssistant")};

void moveFolder(const QString& from, const QString& to)
{
    if (!QFileInfo::exists(from))
        return;
    QDir().mkpath(QFileInfo(to).absolutePath());
    if (!QDir().rename(from, to))
        qFatal("TestHome: cannot move %s to %s", qPrintable(from), qPrintable(to));
}
} // namespace

TestHome::TestHome() : m_path(QDir::homePath())
{
    for (const QString& folder : kUserFolders)
        moveFolder(filePath(folder), m_dir.filePath(folder));
}

TestHome::~TestHome()
{
    for (const QString& folder : kUserFolders) {
        QDir(filePath(folder)).removeRecursively();
        moveFolder(m_dir.filePath(folder), filePath(folder));
    }
}
#else
TestHome::TestHome() : m_path(m_dir.path()), m_previousHome(qgetenv("HOME"))
{
    qputenv("HOME", QFile::encodeName(m_path));
}

TestHome::~TestHome()
{
    for (const QString& folder : qAsConst(m_mounts))
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), folder});
    qputenv("HOME", m_previousHome);
}
#endif

bool TestHome::mountSmallDisk(const QString& folder, int kib)
{
    QDir().mkpath(folder);
    const QString size = QStringLiteral("size=%1k").arg(kib);
    if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", size, "tmpfs", folder}) !=
        0)
        return false;
    m_mounts.append(folder);
    return true;
}
