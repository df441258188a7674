#include "global.h"

#include "base/jsonfile.h"
#include "base/savedfile.h"
#include "base/userpaths.h"
#include "check/launchrules.h"
#include "platform/platform.h"

#include <QDebug>
#include <QFile>
#include <QLocale>

Global g_global;

namespace {
const QString kRemindChoice = QStringLiteral("remid");
const QString kInstalledVersion = QStringLiteral("version");
constexpr int kClientStartDelayMs = 500;

QString LocaleLanguage()
{
    return QLocale().language() == QLocale::Chinese ? QStringLiteral("zh") : QStringLiteral("en");
}

enum class StateFile { UserState, ClientConfig };

// The per-user state and the client's configuration each have their own lines for a file that is
// missing or no JSON.
void LogUnreadable(const QString& path, const JsonFile::ReadError& error, StateFile file)
{
    const bool userState = file == StateFile::UserState;
    switch (error.kind) {
    case JsonFile::ReadError::Missing:
        if (userState)
            qWarning() << path << " not exists";
        else
            qDebug() << path << " Not exists";
        break;
    case JsonFile::ReadError::OpenFailed:
        qDebug() << path << " open failed:" << error.code;
        break;
    case JsonFile::ReadError::ParseFailed:
        if (userState)
            qDebug() << path << " Jsondata Error:" << error.code;
        else
            qDebug() << " APP Jsondata Error:" << error.code;
        break;
    }
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
    const auto state = JsonFile::read(path);
    if (!state) {
        LogUnreadable(path, state.error(), StateFile::UserState);
        return;
    }
    m_noRemindVersion = state->value(QStringLiteral("noRemindVersion")).toString();
    m_remide = state->value(QStringLiteral("noRemind")).toInt(0);
}

int Global::ReadInstalledConfig()
{
    const auto config = JsonFile::read(Global::InstalledConfigFile());
    if (!config) {
        if (config.error().kind == JsonFile::ReadError::ParseFailed)
            qDebug() << " Auto Jsondata Error:" << config.error().code;
        else
            qDebug() << "updateconfig.json open failed:" << config.error().code;
        return -1;
    }
    const QJsonObject& object = config.value();
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

int Global::WriteConfigToFile(QString type, const QString& version)
{
    const QString path = UserStatePath();
    const bool existed = QFile::exists(path);
    const auto read = JsonFile::readForChange(path);
    if (!read) {
        qDebug() << "WriteConfigToFile failed:" << read.error().code;
        return -1;
    }
    QJsonObject state = existed ? read.value() : NewUserState(type);
    if (type == kRemindChoice) {
        state.insert(QStringLiteral("noRemindVersion"), version);
        state.insert(QStringLiteral("noRemind"), 1);
    } else if (type == kInstalledVersion) {
        state.insert(QStringLiteral("currentVersion"), version);
    }
    const Outcome written = JsonFile::replace(path, state);
    if (!written) {
        qDebug() << "WriteConfigToFile failed:" << written.code();
        return -1;
    }
    return 0;
}

int Global::GetClientVersion()
{
    const QString path = ClientConfigPath();
    const auto config = JsonFile::read(path);
    if (!config) {
        LogUnreadable(path, config.error(), StateFile::ClientConfig);
        return -1;
    }
    const QJsonObject client = config->value(QStringLiteral("client")).toObject();
    m_currentVersion = client.value(QStringLiteral("version")).toString();
    return 0;
}

int Global::WriteConfigToClientFile(const QString& version)
{
    const QString path = ClientConfigPath();
    const auto read = JsonFile::readForChange(path);
    if (!read) {
        qDebug() << "WriteConfigToClientFile failed:" << read.error().code;
        return -1;
    }
    QJsonObject config = read.value();
    QJsonObject client = config.value(QStringLiteral("client")).toObject();
    client.insert(QStringLiteral("version"), version);
    config.insert(QStringLiteral("client"), client);
    const Outcome written = JsonFile::replace(path, config);
    if (!written) {
        qDebug() << "WriteConfigToClientFile failed:" << written.code();
        return -1;
    }
    return 0;
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
    if (!m_runEnd.Claim())
        return 0;
    m_args = LaunchRules::clientArguments(m_args);
    Platform::current().pause(kClientStartDelayMs);
    StartClient(m_args);
    qInfo() << m_appName << " starting...";
    RunEnd::QuitApplication();
    return 0;
}

int Global::UpAppInstallThread(QString& program)
{
    if (!m_runEnd.Claim())
        return 0;
    m_args = LaunchRules::withoutUpdaterSwitches(m_args);
    Platform::current().makeExecutable(program);
    Platform::current().startDetached(program, m_args);
    qInfo() << program << " starting...";
    RunEnd::QuitApplication();
    return 0;
}

int Global::WriteScptFile(QString& text)
{
    const Outcome written = SavedFile::write(m_scptPath, text.toUtf8());
    if (!written) {
        qDebug() << text << " write failed:" << written.code();
        return -1;
    }
    qInfo() << "cmdscpt write successed";
    return 0;
}

qint64 Global::DiskSpaceDetection(QString path)
{
    const Result<qint64, Failure> space = Platform::current().freeSpace(path);
    if (!space) {
        qDebug() << "Call to GetDiskFreeSpaceEx() failed:" << space.error().code;
        return 0;
    }
    return space.value();
}

QString Global::VolumeLackingSpace(qint64 packageSize)
{
    Platform& platform = Platform::current();
    const QString systemVolume = platform.systemVolume();
    const QString workingVolume = platform.workingVolume();
    // Unpacking keeps the package, its unpacked tree and the copy: three times its size.
    const qint64 needed = 3 * packageSize;
    const bool systemHasRoom = DiskSpaceDetection(systemVolume) > needed;
    const bool workingHasRoom = DiskSpaceDetection(workingVolume) > needed;
    if (!systemHasRoom)
        return platform.volumeLabel(systemVolume);
    if (!workingHasRoom)
        return platform.volumeLabel(workingVolume);
    return QString();
}

QString Global::InstalledConfigFile()
{
    return QStringLiteral("updateconfig.json");
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
