// Prints the package digest of a file as the updater computes it, and how fast it was.
#include "global.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: md5bench FILE\n";
        return 2;
    }
    QString path = QString::fromLocal8Bit(argv[1]);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    Global global;
    QElapsedTimer timer;
    timer.start();
    const QString digest = global.GetCheckMd5(path);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double mib = QFileInfo(path).size() / 1048576.0;
    QTextStream(stdout) << digest << "  " << path << "\n"
                        << QString::number(mib / seconds, 'f', 1) << " MiB/s\n";
    return digest.isEmpty() ? 1 : 0;
}
