#include "global.h"

#include "base/jsonfile.h"
#include "base/savedfile.h"
#include "base/userpaths.h"
#include "check/launchrules.h"
#include "install/clientbackup.h"
#include "install/copycommand.h"
#include "install/packageunpacker.h"
#include "install/treecomparison.h"
#include "platform/platform.h"
#include "release/installedsequence.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>

Global g_global;

namespace {
const QString kRemindChoice = QStringLiteral("remid");
const QString kInstalledVersion = QStringLiteral("version");
const QString kInstalledConfig = QStringLiteral("updateconfig.json");
constexpr int kClientStartDelayMs = 500;
constexpr int kCopySettleMs = 500;
constexpr int kInstallerPackage = 0;
constexpr int kZipPackage = 1;

QString LocaleLanguage()
{
    return QLocale().language() == QLocale::Chinese ? QStringLiteral("zh") : QStringLiteral("en");
}

// The notes come as "Chinese&English"; the client's language picks one.
QString NotesForLanguage(const QString& notes, const QString& language)
{
    if (!notes.contains(QLatin1Char('&')))
        return notes;
    const QStringList pieces = notes.split(QLatin1Char('&'));
    return language == QLatin1String("zh") ? pieces.at(0) : pieces.at(1).trimmed();
}

// The per-user state a missing file starts from, so that a first write holds every key.
QJsonObject NewUserState(const QString& type)
{
    if (type != kRemindChoice && type != kInstalledVersion)
        return {};
    return {{QStringLiteral("noRemindVersion"), QString()},
            {QStringLiteral("noRemind"), 0},
            {QStringLiteral("currentVersion"), QString()}};
}
} // namespace

int Global::GetConfig()
{
    ReadUserState();
    if (ReadInstalledConfig() != 0)
        return -1;
    if (GetClientVersion() == -1)
        return -1;
    qInfo() << "currentVersion:" << m_currentVersion << ",updateCheckUrl:" << m_updateCheckUrl
            << ",m_getPackUrl:" << m_getPackUrl << ",m_remide:" << m_remide;
    ReadLanguage();
    m_scptPath = UserPaths::updaterDir() + QStringLiteral("/update.scpt");
    return 0;
}

void Global::ReadUserState()
{
    const QString path = UserStatePath();
    const JsonFile::ReadResult state = JsonFile::read(path);
    switch (state.status) {
    case JsonFile::ReadResult::Missing:
        qWarning() << path << " not exists";
        break;
    case JsonFile::ReadResult::OpenFailed:
        qDebug() << path << " open failed:" << state.errorCode;
        break;
    case JsonFile::ReadResult::ParseFailed:
        qDebug() << path << " Jsondata Error:" << state.errorCode;
        break;
    case JsonFile::ReadResult::Ok:
        break;
    }
    m_noRemindVersion = state.object.value(QStringLiteral("noRemindVersion")).toString();
    m_remide = state.object.value(QStringLiteral("noRemind")).toInt(0);
}

int Global::ReadInstalledConfig()
{
    const JsonFile::ReadResult config = JsonFile::read(kInstalledConfig);
    switch (config.status) {
    case JsonFile::ReadResult::Missing:
    case JsonFile::ReadResult::OpenFailed:
        qDebug() << "updateconfig.json open failed:" << config.errorCode;
        return -1;
    case JsonFile::ReadResult::ParseFailed:
        qDebug() << " Auto Jsondata Error:" << config.errorCode;
        return -1;
    case JsonFile::ReadResult::Ok:
        break;
    }
    const QJsonObject& object = config.object;
    m_appName = object.value(QStringLiteral("appName")).toString();
    m_appConfigFile = object.value(QStringLiteral("appConfigFile")).toString();
    m_appPath = object.value(QStringLiteral("appPath")).toString();
    m_updateCheckUrl = object.value(QStringLiteral("updateCheckUrl")).toString();
    m_getPackUrl = object.value(QStringLiteral("updatePackageUrl")).toString();
    ReadPublicKeys(object);
    return 0;
}

void Global::ReadPublicKeys(const QJsonObject& config)
{
    m_publicKeys = ReleaseSignature::trustedKeys(config.value(QStringLiteral("publicKey")));
    if (!m_publicKeys.required)
        qInfo() << "no publicKey configured: updates are not signed";
    else if (m_publicKeys.keys.isEmpty())
        qWarning().noquote() << m_publicKeys.problem << "- every offered update is refused";
    else
        qInfo() << "updates must be signed by one of" << m_publicKeys.keys.size() << "key(s)";
}

void Global::ReadLanguage()
{
    QFile file(UserPaths::clientDataDir() + QStringLiteral("/language.txt"));
    if (!file.exists()) {
        qInfo() << "languagefile not exist";
        m_language = LocaleLanguage();
    } else if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "languagefile open failed:" << static_cast<int>(file.error());
        m_language = LocaleLanguage();
    } else {
        m_language = QString::fromUtf8(file.readAll().trimmed().constData());
    }
    qInfo() << "language is:" << m_language;
}

int Global::WriteConfigToFile(QString type)
{
    const QString path = UserStatePath();
    const bool existed = QFile::exists(path);
    QJsonObject state;
    int errorCode = 0;
    if (!JsonFile::readForChange(path, &state, &errorCode)) {
        qDebug() << "WriteConfigToFile failed:" << errorCode;
        return -1;
    }
    if (!existed)
        state = NewUserState(type);
    if (type == kRemindChoice) {
        state.insert(QStringLiteral("noRemindVersion"), m_latestVersion);
        state.insert(QStringLiteral("noRemind"), 1);
    } else if (type == kInstalledVersion) {
        state.insert(QStringLiteral("currentVersion"), m_latestVersion);
    }
    if (!JsonFile::replace(path, state, &errorCode)) {
        qDebug() << "WriteConfigToFile failed:" << errorCode;
        return -1;
    }
    return 0;
}

int Global::GetClientVersion()
{
    const QString path = ClientConfigPath();
    const JsonFile::ReadResult config = JsonFile::read(path);
    switch (config.status) {
    case JsonFile::ReadResult::Missing:
        qDebug() << path << " Not exists";
        return -1;
    case JsonFile::ReadResult::OpenFailed:
        qDebug() << path << " open failed:" << config.errorCode;
        return -1;
    case JsonFile::ReadResult::ParseFailed:
        qDebug() << " APP Jsondata Error:" << config.errorCode;
        return -1;
    case JsonFile::ReadResult::Ok:
        break;
    }
    const QJsonObject client = config.object.value(QStringLiteral("client")).toObject();
    m_currentVersion = client.value(QStringLiteral("version")).toString();
    return 0;
}

int Global::WriteConfigToClientFile()
{
    const QString path = ClientConfigPath();
    QJsonObject config;
    int errorCode = 0;
    if (!JsonFile::readForChange(path, &config, &errorCode)) {
        qDebug() << "WriteConfigToClientFile failed:" << errorCode;
        return -1;
    }
    QJsonObject client = config.value(QStringLiteral("client")).toObject();
    client.insert(QStringLiteral("version"), m_latestVersion);
    config.insert(QStringLiteral("client"), client);
    if (!JsonFile::replace(path, config, &errorCode)) {
        qDebug() << "WriteConfigToClientFile failed:" << errorCode;
        return -1;
    }
    return 0;
}

int Global::GetVersionInfo(QByteArray& data)
{
    qInfo() << "Service Jsondata:" << QString::fromUtf8(data);
    QJsonParseError parseError{};
    const QJsonObject answer = QJsonDocument::fromJson(data, &parseError).object();
    if (parseError.error != QJsonParseError::NoError) {
        qDebug() << " Recv Services Jsondata Error:" << static_cast<int>(parseError.error);
        return -1;
    }
    m_code = answer.value(QStringLiteral("code")).toString();
    m_desc = answer.value(QStringLiteral("desc")).toString();
    if (m_code != QLatin1String("000000")) {
        qDebug() << "Services Jsondata Code Error:" << m_code;
        return -1;
    }
    const QJsonObject biz = answer.value(QStringLiteral("biz")).toObject();
    m_id = biz.value(QStringLiteral("id")).toString();
    m_updateMode = biz.value(QStringLiteral("update")).toString();
    m_latestVersion = biz.value(QStringLiteral("latestVersion")).toString();
    m_latestVersionUrl = biz.value(QStringLiteral("latestVersionUrl")).toString();
    m_latestVersionInfo = biz.value(QStringLiteral("latestVersionInfo")).toString();
    m_md5 = biz.value(QStringLiteral("md5")).toString();
    m_sha256 = biz.value(QStringLiteral("sha256")).toString();
    m_sha1 = biz.value(QStringLiteral("sha1")).toString();
    m_packageSize = biz.value(QStringLiteral("packageSize")).toInt(0);
    m_updateType = biz.value(QStringLiteral("updateType")).toInt(0);
    m_latestVersionInfo = NotesForLanguage(m_latestVersionInfo, m_language);
    return 0;
}

int Global::CheckReleaseSignature(const QByteArray& data)
{
    const QJsonObject biz =
        QJsonDocument::fromJson(data).object().value(QStringLiteral("biz")).toObject();
    // Without keys nothing is verified, so the record of installed releases is not read.
    const qint64 installed = m_publicKeys.required ? InstalledSequence::read() : 0;
    const ReleaseSignature::Verdict verdict =
        ReleaseSignature::verify(biz, m_publicKeys, installed);
    if (!verdict.accepted) {
        qWarning().noquote() << "release signature refused:" << verdict.reason;
        return -1;
    }
    m_releaseSequence = verdict.sequence;
    return 0;
}

void Global::RecordReleaseSequence()
{
    if (m_releaseSequence > 0)
        InstalledSequence::write(m_releaseSequence);
}

int Global::CkeckProcess()
{
    if (LaunchRules::isClientRunning(RunningClientListing(), m_appName)) {
        qInfo() << m_appName << " Already Run...";
        const int link = LaunchRules::indexOfMeetingLink(m_args);
        if (link >= 0) {
            StartClient({LaunchRules::meetingUrlArgument(m_args.at(link))});
            return 0;
        }
    }
    if (LaunchRules::asksForCheckAnyway(m_args))
        return -1;
    if (LaunchRules::isClientRunning(RunningClientListing(), m_appName))
        return UpAppThread();
    return -1;
}

int Global::UpAppThread()
{
    if (!ClaimRunEnd())
        return 0;
    m_args = LaunchRules::clientArguments(m_args);
    Platform::current().pause(kClientStartDelayMs);
    StartClient(m_args);
    qInfo() << m_appName << " starting...";
    QuitApplication();
    return 0;
}

int Global::UpAppInstallThread(QString& program)
{
    if (!ClaimRunEnd())
        return 0;
    m_args = LaunchRules::withoutUpdaterSwitches(m_args);
    RecordReleaseSequence();
    Platform::current().makeExecutable(program);
    Platform::current().startDetached(program, m_args);
    qInfo() << program << " starting...";
    QuitApplication();
    return 0;
}

int Global::WriteScptFile(QString& text)
{
    int errorCode = 0;
    if (!SavedFile::write(m_scptPath, text.toUtf8(), &errorCode)) {
        qDebug() << text << " write failed:" << errorCode;
        return -1;
    }
    qInfo() << "cmdscpt write successed";
    return 0;
}

qint64 Global::DiskSpaceDetection(QString path)
{
    const Platform::FreeSpace space = Platform::current().freeSpace(path);
    if (!space.ok) {
        qDebug() << "Call to GetDiskFreeSpaceEx() failed:" << space.errorCode;
        return 0;
    }
    return space.bytes;
}

QString Global::VolumeLackingSpace()
{
    Platform& platform = Platform::current();
    const QString systemVolume = platform.systemVolume();
    const QString workingVolume = platform.workingVolume();
    // Unpacking keeps the package, its unpacked tree and the copy: three times its size.
    const qint64 needed = 3 * m_packageSize;
    const bool systemHasRoom = DiskSpaceDetection(systemVolume) > needed;
    const bool workingHasRoom = DiskSpaceDetection(workingVolume) > needed;
    if (!systemHasRoom)
        return platform.volumeLabel(systemVolume);
    if (!workingHasRoom)
        return platform.volumeLabel(workingVolume);
    return QString();
}

int Global::DecompressionReplac(QString& package)
{
    m_unpackPath = QFileInfo(package).absolutePath() + QLatin1Char('/');
    PackageUnpacker unpacker(package, m_unpackPath);
    if (unpacker.unpack(RoomForUnpacking()) != PackageUnpacker::Result::Unpacked)
        return -1;
    qInfo() << package << " successfully decompressed";
    const Platform::CopyRequest copy = UnpackedTreeCopy(package);
    ClientBackup backup;
    if (!backup.save(copy.source, copy.target, copy.elevate))
        return -1;
    if (!CopyUnpackedTree(copy))
        return RestoreClient(backup);
    backup.keepPermissions();
    if (GetClientVersion() == -1)
        return RestoreClient(backup);
    // The client's own configuration is the only proof that the copy installed the new version.
    if (m_currentVersion != m_latestVersion) {
        qDebug() << "files replace error";
        return RestoreClient(backup);
    }
    qInfo() << QDir::currentPath() << " copy file successed";
    if (!WriteForClient(QStringLiteral("update.log"), m_latestVersionInfo.toUtf8()) ||
        !WriteForClient(QStringLiteral("isShowUpdataInfo.txt"), QByteArrayLiteral("1")) ||
        WriteConfigToFile(kInstalledVersion) != 0)
        return RestoreClient(backup);
    qWarning() << "autoupdate config veison update successed";
    RecordReleaseSequence();
    backup.discard();
    return 0;
}

// The unpacked tree is written beside the package and then copied over the client: both volumes
// must hold it.
qint64 Global::RoomForUnpacking()
{
    return qMin(DiskSpaceDetection(m_unpackPath),
                DiskSpaceDetection(Platform::current().workingVolume()));
}

Platform::CopyRequest Global::UnpackedTreeCopy(const QString& package)
{
    const QString source = CopyCommand::sourcePattern(package);
    const QString target = CopyCommand::targetFolder(QDir::currentPath());
    const bool elevate = CopyCommand::needsElevation(CopyCommand::toBackslashes(target),
                                                     CopyCommand::toBackslashes(QDir::homePath()));
    m_unpackPath = CopyCommand::toBackslashes(source);
    return CopyCommand::request(source.chopped(2), target, elevate);
}

// The copy counts as done only when every file of the unpacked tree came out whole in the client
// folder: a copy tool can fail halfway, and on Windows the elevated one can still be running.
bool Global::CopyUnpackedTree(const Platform::CopyRequest& copy)
{
    const Platform::CopyOutcome outcome = Platform::current().copyTree(copy);
    if (!outcome.ran) {
        qDebug() << "copy file error: " << outcome.error;
        return false;
    }
    if (outcome.exitCode != 0) {
        qDebug() << "copy file error: exit code" << outcome.exitCode;
        return false;
    }
    Platform::current().pause(kCopySettleMs);
    QElapsedTimer timer;
    timer.start();
    const QStringList files = TreeComparison::filesBelow(copy.source);
    const QString different = TreeComparison::firstDifference(copy.source, copy.target, files);
    if (!different.isEmpty()) {
        qDebug() << "copy file error: differs" << copy.target + QLatin1Char('/') + different;
        return false;
    }
    qInfo() << "copied files compared:" << files.size() << "files, in" << timer.elapsed() << "ms";
    return true;
}

// A failed install leaves the client folder as it was, and nothing that announces the new
// version to the client.
int Global::RestoreClient(ClientBackup& backup)
{
    QFile::remove(UserPaths::clientDataDir() + QStringLiteral("/isShowUpdataInfo.txt"));
    backup.restore();
    return -1;
}

// Files left in the client's data folder for its next start; the folder is the client's, so it
// is not created here.
bool Global::WriteForClient(const QString& name, const QByteArray& content)
{
    int errorCode = 0;
    if (!SavedFile::write(UserPaths::clientDataDir() + QLatin1Char('/') + name, content,
                          &errorCode)) {
        qDebug().noquote() << name + QStringLiteral(" write failed:") << errorCode;
        return false;
    }
    qInfo().noquote() << name + QStringLiteral(" write successed");
    return true;
}

bool Global::EndRun()
{
    if (!ClaimRunEnd())
        return false;
    QuitApplication();
    return true;
}

bool Global::CancelRun()
{
    RunState open = RunState::Open;
    if (!m_runState.compare_exchange_strong(open, RunState::Ended))
        return false;
    QuitApplication();
    return true;
}

bool Global::BeginInstallation()
{
    // A package of a type the updater does not install changes nothing, so it stays cancellable.
    if (m_updateType != kInstallerPackage && m_updateType != kZipPackage)
        return !IsRunEnded();
    RunState open = RunState::Open;
    m_runState.compare_exchange_strong(open, RunState::Installing);
    return open != RunState::Ended;
}

void Global::EndInstallation()
{
    RunState installing = RunState::Installing;
    m_runState.compare_exchange_strong(installing, RunState::Open);
}

bool Global::ClaimRunEnd()
{
    return m_runState.exchange(RunState::Ended) != RunState::Ended;
}

void Global::QuitApplication()
{
    // quit() must reach the main thread's event loop; a direct call from the worker thread is not
    // safe in Qt 5, so it is queued to the application object.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}

QString Global::UserStatePath() const
{
    return UserPaths::updaterDir() + QStringLiteral("/updateconfig.json");
}

QString Global::ClientConfigPath() const
{
    return m_appPath + m_appConfigFile;
}

QString Global::RunningClientListing() const
{
    return Platform::current().queryProcesses(m_appName);
}

void Global::StartClient(const QStringList& arguments)
{
    Platform::current().startDetached(m_appPath + m_appName, arguments);
}
