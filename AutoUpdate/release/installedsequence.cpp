#include "release/installedsequence.h"

#include "base/savedfile.h"
#include "base/userpaths.h"

#include <QDebug>
#include <QDir>
#include <QFile>

QString InstalledSequence::path()
{
    return UserPaths::updaterDir() + QStringLiteral("/installedsequence.txt");
}

namespace {

// A record is a few digits; more is no record of ours.
constexpr qint64 kMaxRecordBytes = 64;

qint64 readRecord(const QString& recordPath)
{
    QFile file(recordPath);
    if (!file.exists())
        return 0;
    bool isNumber = false;
    const qint64 sequence = file.open(QIODevice::ReadOnly)
                                ? file.read(kMaxRecordBytes).trimmed().toLongLong(&isNumber)
                                : 0;
    if (!isNumber) {
        qWarning() << recordPath << " holds no sequence number:" << static_cast<int>(file.error());
        return 0;
    }
    return sequence;
}

} // namespace

QString InstalledSequence::clientSidePath()
{
    return QDir::currentPath() + QStringLiteral("/installedsequence.txt");
}

qint64 InstalledSequence::read()
{
    return qMax(readRecord(path()), readRecord(clientSidePath()));
}

qint64 InstalledSequence::readBesideClient()
{
    return readRecord(clientSidePath());
}

bool InstalledSequence::write(qint64 sequence, const QString& recordPath)
{
    const Outcome written = SavedFile::write(recordPath, QByteArray::number(sequence) + '\n');
    if (!written) {
        qWarning() << recordPath << " write failed:" << written.code();
        return false;
    }
    qInfo() << "installed release sequence" << sequence << "recorded";
    return true;
}
