#ifndef CLIENTFILES_H
#define CLIENTFILES_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The files through which tests meet the stand-in client (fakeclient/): its configuration, and
// the record of its starts that it keeps in "launches.jsonl" beside its program.
namespace ClientFiles {

// The client's configuration naming its installed version.
QByteArray config(const QString& version);
// The argument lists of the starts of the client in the folder, in order, leaving out the
// starts with "--linger" (a client a test keeps running).
QList<QStringList> launches(const QString& clientDir);
// Writes a file, creating its folders.
void write(const QString& path, const QByteArray& content);
QByteArray read(const QString& path);
// Every file below folder with its permissions and content, and every folder as its name and
// "/", by their paths relative to folder: two folders holding the same files, with the same
// permissions and contents, give the same map.
QMap<QString, QByteArray> tree(const QString& folder);

} // namespace ClientFiles

#endif // CLIENTFILES_H
