#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString kUpdaterDir = QStringLiteral("AppData/Roaming/AutoUpdate");
const QString kClientDataDir = QStringLiteral("AppData/Roaming/quorvexAssistant");

#ifdef Q_OS_WIN
void moveFolder(const QString& from, const QString& to)
{
    if (!QFileInfo::exists(from))
        return;
    QDir().mkpath(QFileInfo(to).absolutePath());
    if (!QDir().rename(from, to))
        qFatal("TestHome: cannot move %s to %s", qPrintable(from), qPrintable(to));
}
#endif
} // namespace

#ifdef Q_OS_WIN
TestHome::TestHome()
    : m_path(QDir::homePath()),
      m_turn(std::make_unique<QLockFile>(QDir::tempPath() + QStringLiteral("/TestHome.lock")))
{
    // A test case may hold its turn for longer than the default 30 s; a dead holder's lock is
    // still taken over.
    m_turn->setStaleLockTime(0);
    m_turn->lock();
    for (const QString& folder : {kUpdaterDir, kClientDataDir})
        moveFolder(filePath(folder), m_dir.filePath(folder));
}

TestHome::~TestHome()
{
    for (const QString& file : qAsConst(m_written))
        QFile::remove(file);
    for (const QString& folder : {kUpdaterDir, kClientDataDir}) {
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
    qputenv("HOME", m_previousHome);
}
#endif

QString TestHome::filePath(const QString& relative) const
{
    return m_path + QLatin1Char('/') + relative;
}

QString TestHome::updaterDir() const
{
    return filePath(kUpdaterDir);
}

QString TestHome::clientDataDir() const
{
    return filePath(kClientDataDir);
}

QString TestHome::writeFile(const QString& relative, const QByteArray& content) const
{
    const QString path = filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
#ifdef Q_OS_WIN
    m_written.append(path);
#endif
    return path;
}

QByteArray TestHome::readFile(const QString& relative) const
{
    QFile file(filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
