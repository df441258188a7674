#include "release/installedsequence.h"

#include "base/userpaths.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

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
    QSaveFile file(path());
    const QByteArray content = QByteArray::number(sequence) + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        qWarning() << path() << " write failed:" << static_cast<int>(file.error());
        return false;
    }
    qInfo() << "installed release sequence" << sequence << "recorded";
    return true;
}
