#include "install/installjournal.h"

#include "base/relativepath.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <utility>

namespace {

const QString kClientFolder = QStringLiteral("clientFolder");
const QString kBackupFolder = QStringLiteral("backupFolder");
const QString kElevate = QStringLiteral("elevate");
const QString kSaved = QStringLiteral("saved");
const QString kAdded = QStringLiteral("added");
const QString kAddedFolders = QStringLiteral("addedFolders");

// Why a journal of this size may not be read: empty when it may.
QString sizeExceeded(qint64 bytes)
{
    if (bytes <= InstallJournal::kMaxBytes)
        return QString();
    return QStringLiteral("holds %1 bytes, more than %2").arg(bytes).arg(InstallJournal::kMaxBytes);
}

QString pathCountExceeded(qint64 paths)
{
    if (paths <= InstallJournal::kMaxPaths)
        return QString();
    return QStringLiteral("names %1 paths, more than %2").arg(paths).arg(InstallJournal::kMaxPaths);
}

// Why a path from a journal may not be joined to the client folder: empty when it may. Cleaned,
// it must still lie below the folder, never be the folder itself.
QString unsafePathReason(const QString& path, const QString& clientFolder)
{
    const QString unsafe = RelativePath::unsafeReason(path);
    if (!unsafe.isEmpty())
        return unsafe;
    const QString base = QDir::cleanPath(clientFolder) + QLatin1Char('/');
    if (!QDir::cleanPath(base + path).startsWith(base))
        return QStringLiteral("lands outside the client folder");
    return QString();
}

// The journal's own word on the place is only compared, never used: why it differs, or empty.
QString placeMismatch(const QJsonObject& journal, const InstallJournal::Place& expected)
{
    if (journal.value(kClientFolder) != QJsonValue(expected.clientFolder))
        return QStringLiteral("names another client folder than \"%1\"").arg(expected.clientFolder);
    if (journal.value(kBackupFolder) != QJsonValue(expected.backupFolder))
        return QStringLiteral("names another backup folder than \"%1\"").arg(expected.backupFolder);
    const QJsonValue elevate = journal.value(kElevate);
    if (!elevate.isBool())
        return QStringLiteral("\"elevate\" is neither true nor false");
    if (elevate.toBool() != expected.elevate) {
        return expected.elevate
                   ? QStringLiteral("does not ask for the elevation the client folder needs")
                   : QStringLiteral("asks for elevation the client folder does not need");
    }
    return QString();
}

qint64 pathCount(const QJsonObject& journal)
{
    return qint64(journal.value(kSaved).toArray().size()) + journal.value(kAdded).toArray().size() +
           journal.value(kAddedFolders).toArray().size();
}

Result<QStringList> pathList(const QJsonObject& journal, const QString& key,
                             const QString& clientFolder)
{
    const QJsonValue value = journal.value(key);
    if (!value.isArray())
        return Result<QStringList>::failure(QStringLiteral("\"%1\" is not a list").arg(key));
    QStringList paths;
    int index = 0;
    for (const QJsonValue& item : value.toArray()) {
        const QString reason = item.isString() ? unsafePathReason(item.toString(), clientFolder)
                                               : QStringLiteral("is not a text");
        if (!reason.isEmpty())
            return Result<QStringList>::failure(
                QStringLiteral("\"%1\" path %2 %3").arg(key).arg(index).arg(reason));
        paths.append(item.toString());
        ++index;
    }
    return paths;
}

} // namespace

InstallJournal::InstallJournal(Place place, QStringList saved, QStringList added,
                               QStringList addedFolders)
    : m_place(std::move(place)), m_saved(std::move(saved)), m_added(std::move(added)),
      m_addedFolders(std::move(addedFolders))
{}

Result<InstallJournal> InstallJournal::fromBytes(const QByteArray& bytes, const Place& expected)
{
    using Refusal = Result<InstallJournal>;
    if (const QString exceeded = sizeExceeded(bytes.size()); !exceeded.isEmpty())
        return Refusal::failure(exceeded);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return Refusal::failure(QStringLiteral("is not JSON: ") + error.errorString());
    if (!document.isObject())
        return Refusal::failure(QStringLiteral("is not a JSON object"));
    const QJsonObject journal = document.object();
    if (const QString mismatch = placeMismatch(journal, expected); !mismatch.isEmpty())
        return Refusal::failure(mismatch);
    if (const QString exceeded = pathCountExceeded(pathCount(journal)); !exceeded.isEmpty())
        return Refusal::failure(exceeded);
    Result<QStringList> lists[] = {pathList(journal, kSaved, expected.clientFolder),
                                   pathList(journal, kAdded, expected.clientFolder),
                                   pathList(journal, kAddedFolders, expected.clientFolder)};
    for (const Result<QStringList>& list : lists) {
        if (!list)
            return Refusal::failure(list.error());
    }
    return InstallJournal(expected, lists[0].value(), lists[1].value(), lists[2].value());
}

Result<InstallJournal> InstallJournal::fromFile(const QString& path, const Place& expected)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<InstallJournal>::failure(QStringLiteral("cannot be read: ") +
                                               file.errorString());
    if (const QString exceeded = sizeExceeded(file.size()); !exceeded.isEmpty())
        return Result<InstallJournal>::failure(exceeded);
    // One byte past the bound, so that a file that grew since shows as too large.
    return fromBytes(file.read(kMaxBytes + 1), expected);
}

Result<QByteArray> InstallJournal::toBytes() const
{
    const QString tooMany =
        pathCountExceeded(qint64(m_saved.size()) + m_added.size() + m_addedFolders.size());
    if (!tooMany.isEmpty())
        return Result<QByteArray>::failure(tooMany);
    const QJsonObject journal{{kClientFolder, m_place.clientFolder},
                              {kBackupFolder, m_place.backupFolder},
                              {kElevate, m_place.elevate},
                              {kSaved, QJsonArray::fromStringList(m_saved)},
                              {kAdded, QJsonArray::fromStringList(m_added)},
                              {kAddedFolders, QJsonArray::fromStringList(m_addedFolders)}};
    QByteArray bytes = QJsonDocument(journal).toJson(QJsonDocument::Compact);
    if (const QString tooLarge = sizeExceeded(bytes.size()); !tooLarge.isEmpty())
        return Result<QByteArray>::failure(tooLarge);
    return bytes;
}
