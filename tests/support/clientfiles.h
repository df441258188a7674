#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

// The files through which tests meet the stand-in client (fakeclient/): its configuration, and
// the record of its starts that it keeps in "launches.jsonl" beside its program.
namespace ClientFiles {

// The client's configuration naming its installed version.
inline QByteArray config(const QString& version)
{
    return QJsonDocument(QJsonObject{{"client", QJsonObject{{"version", version}}}}).toJson();
}

// Writes a file, creating its folders.
inline void write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

// Bytes that do not compress, as in built programs, the same for the same stream number.
inline QByteArray randomBytes(int size, quint32 stream)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(stream).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

inline QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The argument lists of the starts of the client in the folder, in order, leaving out the
// starts with "--linger" (a client a test keeps running).
inline QList<QStringList> launches(const QString& clientDir)
{
    QList<QStringList> launches;
    for (const QByteArray& line : read(clientDir + QStringLiteral("/launches.jsonl")).split('\n')) {
        QStringList arguments;
        for (const QJsonValue& value : QJsonDocument::fromJson(line).array())
            arguments.append(value.toString());
        if (!line.isEmpty() && !arguments.contains(QStringLiteral("--linger")))
            launches.append(arguments);
    }
    return launches;
}

// Every file below folder with its permissions and content, and every folder as its name and
// "/", by their paths relative to folder: two folders holding the same files, with the same
// permissions and contents, give the same map.
inline QMap<QString, QByteArray> tree(const QString& folder)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = it.next().mid(folder.size() + 1);
        const auto permissions = static_cast<int>(it.fileInfo().permissions());
        tree.insert(it.fileInfo().isDir() ? name + '/' : name,
                    it.fileInfo().isDir()
                        ? QByteArray()
                        : QByteArray::number(permissions, 16) + ' ' + read(it.filePath()));
    }
    return tree;
}

// Takes the updater's list of the files it installed out of a map of the client's folder's files
// (tree()'s, or one of contents alone), and hands back the paths it names, in its order (sorted).
inline QStringList takeInstalledList(QMap<QString, QByteArray>& tree)
{
    const QByteArray entry = tree.take(QStringLiteral("AutoUpdate/installed-files.json"));
    QStringList paths;
    const QJsonObject list = QJsonDocument::fromJson(entry.mid(entry.indexOf('{'))).object();
    for (const QJsonValue& file : list.value(QStringLiteral("files")).toArray())
        paths.append(file.toObject().value(QStringLiteral("path")).toString());
    return paths;
}

} // namespace ClientFiles
