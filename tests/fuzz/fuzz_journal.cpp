#include "install/installjournal.h"

#include <QByteArray>
#include <QDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const InstallJournal::Place kPlace{QStringLiteral("/fuzz/client"), QStringLiteral("/fuzz/backup"),
                                   false};

bool allInsideClient(const QStringList& paths)
{
    for (const QString& path : paths) {
        if (!QDir::cleanPath(kPlace.clientFolder + QLatin1Char('/') + path)
                 .startsWith(kPlace.clientFolder + QLatin1Char('/')))
            return false;
    }
    return true;
}

} // namespace

// The journal lies in the user's profile, where anyone who can write there can write any bytes;
// the restore it leads to may run elevated. A journal that is accepted names only paths inside
// the client folder, and reads back the same once written again.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const Result<InstallJournal> journal = InstallJournal::fromBytes(bytes, kPlace);
    if (!journal)
        return 0;
    if (!allInsideClient(journal->saved()) || !allInsideClient(journal->added()) ||
        !allInsideClient(journal->addedFolders()))
        std::abort();
    const Result<QByteArray> written = journal->toBytes();
    if (!written)
        std::abort();
    const Result<InstallJournal> reread = InstallJournal::fromBytes(written.value(), kPlace);
    if (!reread || reread->saved() != journal->saved() || reread->added() != journal->added() ||
        reread->addedFolders() != journal->addedFolders())
        std::abort();
    return 0;
}
