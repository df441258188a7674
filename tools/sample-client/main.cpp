// A small client for the demo: it reports the version its configuration names and the arguments
// it was started with, on standard output and in "sample-client.log" beside itself, and on a
// desktop also in a window.
#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

namespace {

QString installedVersion()
{
    QFile config(QCoreApplication::applicationDirPath() + QStringLiteral("/config/client.json"));
    if (!config.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    const QJsonObject client =
        QJsonDocument::fromJson(config.readAll()).object()["client"].toObject();
    return client.value(QStringLiteral("version")).toString();
}

void record(const QString& line)
{
    QTextStream(stdout) << line << '\n';
    QFile log(QCoreApplication::applicationDirPath() + QStringLiteral("/sample-client.log"));
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(line.toUtf8() + '\n');
}

bool onDesktop()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const QString line = QStringLiteral("QUORVEX sample client %1 started with [%2]")
                             .arg(installedVersion(), arguments.join(QStringLiteral(", ")));
    record(line);
    if (!onDesktop())
        return 0;
    QMessageBox box(QMessageBox::Information, QStringLiteral("QUORVEX"), line, QMessageBox::Ok);
    QTimer::singleShot(20000, &box, &QMessageBox::accept);
    box.exec();
    return 0;
}
