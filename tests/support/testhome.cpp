#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TestHome::TestHome() : m_previousHome(qgetenv("HOME"))
{
    qputenv("HOME", QFile::encodeName(m_dir.path()));
}

TestHome::~TestHome()
{
    qputenv("HOME", m_previousHome);
}

QString TestHome::filePath(const QString& relative) const
{
    return m_dir.filePath(relative);
}

QString TestHome::updaterDir() const
{
    return filePath(QStringLiteral("AppData/Roaming/AutoUpdate"));
}

QString TestHome::clientDataDir() const
{
    return filePath(QStringLiteral("AppData/Roaming/quorvexAssistant"));
}

QString TestHome::writeFile(const QString& relative, const QByteArray& content) const
{
    const QString path = filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    return path;
}

QByteArray TestHome::readFile(const QString& relative) const
{
    QFile file(filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
