#include "clientfiles.h"
#include "install/packageunpacker.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// A package may come from a forged check answer: any bytes at all. It is unpacked in a folder of
// its own: anything beside the package but its unpacked top folder climbed out of it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // More room than the expansion limit lets any input claim, so that the free space of the
    // machine running the fuzzer plays no part.
    constexpr qint64 kFreeBytes = qint64(1) << 32;
    constexpr auto kAll = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    static const QTemporaryDir root;
    static const QString folder = root.path() + QStringLiteral("/unpack/");
    QDir().mkpath(folder);
    const QString package = folder + QStringLiteral("pkg.zip");
    ClientFiles::write(package, QByteArray(reinterpret_cast<const char*>(data), int(size)));

    const bool unpacked =
        PackageUnpacker(package, folder).unpack(kFreeBytes) == PackageUnpacker::Result::Unpacked;
    const QStringList beside = unpacked ? QStringList{"pkg", "pkg.zip"} : QStringList{"pkg.zip"};
    if (QDir(root.path()).entryList(kAll) != QStringList{"unpack"} ||
        QDir(folder).entryList(kAll) != beside)
        std::abort();
    QDir(folder + QStringLiteral("pkg")).removeRecursively();
    return 0;
}
