#include "clientfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QByteArray ClientFiles::config(const QString& version)
{
    return QJsonDocument(QJsonObject{{"client", QJsonObject{{"version", version}}}}).toJson();
}

QList<QStringList> ClientFiles::launches(const QString& clientDir)
{
    QList<QStringList> launches;
    for (const QByteArray& line : read(clientDir + QStringLiteral("/launches.jsonl")).split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList arguments;
        for (const QJsonValue& value : QJsonDocument::fromJson(line).array())
            arguments.append(value.toString());
        if (!arguments.contains(QStringLiteral("--linger")))
            launches.append(arguments);
    }
    return launches;
}

void ClientFiles::write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

QByteArray ClientFiles::read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMap<QString, QByteArray> ClientFiles::tree(const QString& folder)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = path.mid(folder.size() + 1);
        if (it.fileInfo().isDir())
            tree.insert(name + QLatin1Char('/'), {});
        else
            tree.insert(name,
                        QByteArray::number(static_cast<int>(it.fileInfo().permissions()), 16) +
                            ' ' + read(path));
    }
    return tree;
}
