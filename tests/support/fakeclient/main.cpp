// A stand-in for the client program: records each start's arguments as one line of JSON in
// "launches.jsonl" beside itself; with "--linger" it stays running a while, as a running client.
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    QFile launches(QCoreApplication::applicationDirPath() + QStringLiteral("/launches.jsonl"));
    if (launches.open(QIODevice::WriteOnly | QIODevice::Append)) {
        launches.write(
            QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) +
            '\n');
        launches.close();
    }
    if (arguments.contains(QStringLiteral("--linger")))
        QThread::sleep(60);
    return 0;
}
