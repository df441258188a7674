#include "release/releasemanifest.h"

#include "base/filedigest.h"
#include "base/relativepath.h"
#include "release/fieldreader.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

const QString kFiles = QStringLiteral("files");
const QString kPath = QStringLiteral("path");
const QString kSize = QStringLiteral("size");
const QString kSha256 = QStringLiteral("sha256");
const QString kMode = QStringLiteral("mode");

struct ModeBit
{
    quint32 bit;
    QFileDevice::Permission permission;
};

constexpr ModeBit kModeBits[] = {
    {0400, QFileDevice::ReadOwner}, {0200, QFileDevice::WriteOwner}, {0100, QFileDevice::ExeOwner},
    {0040, QFileDevice::ReadGroup}, {0020, QFileDevice::WriteGroup}, {0010, QFileDevice::ExeGroup},
    {0004, QFileDevice::ReadOther}, {0002, QFileDevice::WriteOther}, {0001, QFileDevice::ExeOther},
};

Result<ReleaseManifest::Entry> entryOf(const QFileInfo& file, const QString& path)
{
    using R = Result<ReleaseManifest::Entry>;
    const QString unsafe = RelativePath::unsafeReason(path);
    if (!unsafe.isEmpty())
        return R::failure(unsafe);
    if (!file.isFile())
        return R::failure(QStringLiteral("is neither a file nor a folder"));
    const Result<QString> digest = FileDigest::sha256(file.filePath());
    if (!digest)
        return R::failure(digest.error());
    return ReleaseManifest::Entry{path, file.size(), digest.value(),
                                  ReleaseManifest::modeOf(file.permissions())};
}

} // namespace

bool ReleaseManifest::Entry::operator==(const Entry& other) const
{
    return path == other.path && size == other.size && sha256 == other.sha256 && mode == other.mode;
}

Result<ReleaseManifest> ReleaseManifest::fromJson(const QByteArray& json)
{
    using R = Result<ReleaseManifest>;
    const Result<FieldReader::Document> document = FieldReader::document(json, {kFiles});
    if (!document)
        return R::failure(QStringLiteral("the manifest ") + document.error());
    QVector<Entry> entries;
    const Outcome read =
        FieldReader::forEachEntry(document.value(), kFiles, [&](FieldReader& reader) {
            entries.append({reader.path(kPath), reader.size(kSize), reader.sha256(kSha256),
                            reader.mode(kMode)});
            return reader.ok() ? Outcome::success() : Outcome::failure(reader.fault());
        });
    if (!read)
        return R::failure(QStringLiteral("the manifest's ") + read.error());
    return fromEntries(std::move(entries));
}

Result<ReleaseManifest> ReleaseManifest::fromFolder(const QString& folder, const Vouched& vouched)
{
    using R = Result<ReleaseManifest>;
    if (!QFileInfo(folder).isDir())
        return R::failure(QStringLiteral("%1 is not a folder").arg(folder));
    // Paths are made relative between absolute ones: QDir takes a relative one for a path below
    // itself.
    const QDir root(QDir(folder).absolutePath());
    QVector<Entry> entries;
    QDirIterator it(root.path(),
                    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        const QString path = root.relativeFilePath(file.filePath());
        if (file.isSymLink())
            return R::failure(
                QStringLiteral("%1 is a symbolic link, which a release cannot hold").arg(path));
        // The iterator passes over a folder it cannot list without a word.
        if (file.isDir() && !(file.isReadable() && file.isExecutable()))
            return R::failure(QStringLiteral("%1 is a folder that cannot be read").arg(path));
        if (file.isDir())
            continue;
        const Entry* known = vouched ? vouched(path) : nullptr;
        if (known && known->size == file.size()) {
            entries.append(*known);
            continue;
        }
        const Result<Entry> entry = entryOf(file, path);
        if (!entry)
            return R::failure(QStringLiteral("%1 %2").arg(path, entry.error()));
        entries.append(entry.value());
    }
    return fromEntries(std::move(entries));
}

QByteArray ReleaseManifest::toJson() const
{
    QJsonArray files;
    for (const Entry& entry : m_entries)
        files.append(QJsonObject{{kPath, entry.path},
                                 {kSize, entry.size},
                                 {kSha256, entry.sha256},
                                 {kMode, static_cast<int>(entry.mode)}});
    return QJsonDocument(QJsonObject{{kFiles, files}}).toJson(QJsonDocument::Compact);
}

const ReleaseManifest::Entry* ReleaseManifest::find(const QString& path) const
{
    const auto found = m_index.constFind(RelativePath::fileKey(path));
    return found == m_index.constEnd() ? nullptr : &m_entries.at(found.value());
}

quint32 ReleaseManifest::modeOf(QFileDevice::Permissions permissions)
{
    quint32 mode = 0;
    for (const ModeBit& modeBit : kModeBits)
        mode |= permissions.testFlag(modeBit.permission) ? modeBit.bit : 0;
    return mode;
}

QFileDevice::Permissions ReleaseManifest::permissionsOf(quint32 mode)
{
    QFileDevice::Permissions permissions;
    for (const ModeBit& modeBit : kModeBits)
        permissions.setFlag(modeBit.permission, (mode & modeBit.bit) != 0);
    return permissions;
}

Result<ReleaseManifest> ReleaseManifest::fromEntries(QVector<Entry> entries)
{
    using R = Result<ReleaseManifest>;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    ReleaseManifest manifest;
    for (int index = 0; index < entries.size(); ++index) {
        const QString key = RelativePath::fileKey(entries.at(index).path);
        if (manifest.m_index.contains(key))
            return R::failure(QStringLiteral("manifest entry \"%1\" names the file of another")
                                  .arg(entries.at(index).path));
        manifest.m_index.insert(key, index);
    }
    // A path below another entry's would need that file to be a folder as well.
    for (const Entry& entry : qAsConst(entries)) {
        for (int slash = entry.path.indexOf('/'); slash > 0;
             slash = entry.path.indexOf('/', slash + 1)) {
            if (manifest.m_index.contains(RelativePath::fileKey(entry.path.left(slash))))
                return R::failure(QStringLiteral("manifest entry \"%1\" lies below the file \"%2\"")
                                      .arg(entry.path, entry.path.left(slash)));
        }
    }
    manifest.m_entries = std::move(entries);
    return manifest;
}
