#include "install/elevatedinstall.h"

#include "base/savedfile.h"
#include "base/userpaths.h"
#include "install/copycommand.h"
#include "install/copymode.h"
#include "install/stagedinstall.h"
#include "install/stagingfolder.h"
#include "platform/helperrun.h"
#include "platform/platform.h"
#include "release/answerfields.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QUuid>

namespace {

// Time for the user to answer the elevation prompt where the system does not wait for it.
constexpr int kStartLimitMs = 120000;
// An elevated side whose heartbeat stops this long has died.
constexpr int kSilenceLimitMs = 30000;
// The most of the elevated side's log that is copied into the user's.
constexpr qint64 kMaxLogBytes = 1 << 20;

void copyLog(const QString& logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : log.read(kMaxLogBytes).split('\n')) {
        const QByteArray text = line.trimmed();
        if (!text.isEmpty())
            qInfo().noquote() << QStringLiteral("elevated: ") + QString::fromLocal8Bit(text);
    }
}

// Runs the updater beside the client, elevated, with the switch first and a fresh tag after it,
// and waits for its verdict; the exit code it left, or -1 when none came.
int runStaged(QStringList arguments)
{
    const QString tag = QUuid::createUuid().toString(QUuid::WithoutBraces);
    arguments.insert(1, tag);
    const StagingFolder staging(QDir::currentPath());
    const Platform::ToolRun launched =
        Platform::current().runElevated(CopyMode::program(), arguments);
    if (!launched) {
        qDebug() << "elevated install not started:" << launched.error();
        return -1;
    }
    // A launcher that ended with an error either ran the elevated side to its end (pkexec hands
    // its exit code on) or never ran it (a declined prompt): nothing more is to come.
    const int startLimitMs = launched.value() == 0 ? kStartLimitMs : 0;
    const Result<int> verdict =
        HelperRun::await(staging.verdictPath(), startLimitMs, kSilenceLimitMs, tag);
    copyLog(staging.logPath());
    if (!verdict) {
        qDebug() << "elevated install: no verdict, launcher exit code" << launched.value();
        return -1;
    }
    qInfo() << "elevated install verdict:" << verdict.value();
    return verdict.value();
}

} // namespace

bool ElevatedInstall::needed()
{
#ifdef Q_OS_WIN
    return false;
#else
    const QString client = CopyCommand::targetFolder(QDir::currentPath());
    return CopyCommand::needsElevation(HelperRun::toBackslashes(client),
                                       HelperRun::toBackslashes(QDir::homePath()));
#endif
}

bool ElevatedInstall::install(const QString& package, const ReleaseOffer& offer)
{
    const QString answer = UserPaths::updaterDir() + QStringLiteral("/elevated-answer.json");
    const Outcome written =
        SavedFile::write(answer, QJsonDocument(AnswerFields::toBiz(offer)).toJson());
    if (!written) {
        qDebug() << answer << " write failed:" << written.code();
        return false;
    }
    const int exitCode = runStaged({StagedInstall::installSwitch(), package, answer});
    QFile::remove(answer);
    return exitCode == 0;
}

void ElevatedInstall::restoreUnfinished()
{
    if (!needed() || !QFile::exists(StagingFolder(QDir::currentPath()).journalPath()))
        return;
    qInfo() << "unfinished elevated install found, restoring";
    runStaged({StagedInstall::restoreSwitch()});
}
