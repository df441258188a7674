// Prints the package digests of a file as the download computes them, block by block as the
// blocks are written, and how fast that was. "--sha256" adds the SHA-256 of signed releases.
#include "base/packagedigest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const bool withSha256 = arguments.contains(QStringLiteral("--sha256"));
    QFile file(arguments.value(arguments.size() - 1));
    if (arguments.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "usage: md5bench [--sha256] FILE\n";
        return 2;
    }
    PackageDigest digest;
    digest.reset(withSha256);
    QByteArray block(1 << 20, Qt::Uninitialized);
    QElapsedTimer timer;
    timer.start();
    for (qint64 n; (n = file.read(block.data(), block.size())) > 0;)
        digest.addData(block.constData(), n);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double mib = file.size() / 1048576.0;
    QTextStream(stdout) << digest.md5() << "  " << file.fileName() << "\n"
                        << QString::number(mib / seconds, 'f', 1) << " MiB/s\n";
    return 0;
}
