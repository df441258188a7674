#include "release/installedsequence.h"

#include "base/savedfile.h"
#include "base/userpaths.h"

#include <QDebug>
#include <QFile>

QString InstalledSequence::path()
{
    return UserPaths::updaterDir() + QStringLiteral("/installedsequence.txt");
}

qint64 InstalledSequence::read()
{
    QFile file(path());
    if (!file.exists())
        return 0;
    bool isNumber = false;
    const qint64 sequence =
        file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&isNumber) : 0;
    if (!isNumber) {
        qWarning() << path() << " holds no sequence number:" << static_cast<int>(file.error());
        return 0;
    }
    return sequence;
}

bool InstalledSequence::write(qint64 sequence)
{
    const Outcome written = SavedFile::write(path(), QByteArray::number(sequence) + '\n');
    if (!written) {
        qWarning() << path() << " write failed:" << written.code();
        return false;
    }
    qInfo() << "installed release sequence" << sequence << "recorded";
    return true;
}
