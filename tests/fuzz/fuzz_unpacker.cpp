#include "packageunpacker.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// More room than the expansion limit lets any input claim, so that the free space of the
// machine running the fuzzer plays no part.
constexpr qint64 kFreeBytes = qint64(1) << 32;

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                  QDir::System);
}

// The package is unpacked in a folder of its own: anything beside that folder climbed out of
// it. Beside the package only its top folder may appear, and only when it was unpacked.
void checkNothingStrayed(const QString& root, const QString& folder, bool unpacked)
{
    QStringList left = entriesOf(folder);
    if (unpacked)
        left.removeOne(QStringLiteral("pkg"));
    if (entriesOf(root) != QStringList{QStringLiteral("unpack")} ||
        left != QStringList{QStringLiteral("pkg.zip")})
        std::abort();
}

} // namespace

// A package may come from a forged check answer: any bytes at all.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QTemporaryDir root;
    static const QString folder = root.path() + QStringLiteral("/unpack/");
    static const QString package = folder + QStringLiteral("pkg.zip");
    QDir().mkpath(folder);
    QFile file(package);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        std::abort();
    file.close();

    const PackageUnpacker::Result result = PackageUnpacker(package, folder).unpack(kFreeBytes);
    checkNothingStrayed(root.path(), folder, result == PackageUnpacker::Result::Unpacked);
    QDir(folder + QStringLiteral("pkg")).removeRecursively();
    return 0;
}
