#include "install/installedfiles.h"

#include "base/filedigest.h"
#include "base/savedfile.h"
#include "platform/platform.h"
#include "release/fieldreader.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

Result<ReleaseManifest> ReadList(const QString& path)
{
    using R = Result<ReleaseManifest>;
    QFile file;
    if (!Platform::openPlainFile(file, path))
        return R::failure(QStringLiteral("no list of installed files"));
    const QByteArray json = file.read(FieldReader::kMaxDocumentBytes + 1);
    if (json.size() > FieldReader::kMaxDocumentBytes)
        return R::failure(QStringLiteral("the list of installed files is too long"));
    return ReleaseManifest::fromJson(json);
}

// Still the file that was installed: a plain file of the listed size and digest.
bool StillInstalled(const ReleaseManifest::Entry& entry, const QString& path)
{
    if (Platform::pathKind(path) != Platform::PathKind::File ||
        QFileInfo(path).size() != entry.size)
        return false;
    const Result<QString> sha256 = FileDigest::sha256(path);
    return sha256 && sha256.value() == entry.sha256;
}

} // namespace

namespace InstalledFiles {

QString relativePath(const QString& updaterFolder)
{
    return updaterFolder + QStringLiteral("/installed-files.json");
}

Outcome record(const QString& tree, const QString& updaterFolder, const ReleaseManifest* verified)
{
    // What the install wrote into its own folder is read whatever the manifest says, in
    // whichever case the release spells the folder.
    const QString updaterPrefix = updaterFolder + QLatin1Char('/');
    const auto vouched = [&](const QString& path) -> const ReleaseManifest::Entry* {
        return verified && !path.startsWith(updaterPrefix, Qt::CaseInsensitive)
                   ? verified->find(path)
                   : nullptr;
    };
    const Result<ReleaseManifest> files = ReleaseManifest::fromFolder(tree, vouched);
    if (!files)
        return Outcome::failure(files.error());
    const QString path = tree + QLatin1Char('/') + relativePath(updaterFolder);
    QDir().mkpath(QFileInfo(path).path());
    const Outcome written = SavedFile::write(path, files->toJson());
    if (!written)
        return Outcome::failure(QStringLiteral("cannot write ") + path, written.code());
    return Outcome::success();
}

QStringList droppedBy(const QString& tree, const QString& clientFolder,
                      const QString& updaterFolder)
{
    const Result<ReleaseManifest> installed =
        ReadList(clientFolder + QLatin1Char('/') + relativePath(updaterFolder));
    if (!installed) {
        qInfo().noquote() << "installed files unknown, none removed:" << installed.error();
        return {};
    }
    QStringList dropped;
    int changed = 0;
    for (const ReleaseManifest::Entry& entry : installed->entries()) {
        if (Platform::pathKind(tree + QLatin1Char('/') + entry.path) != Platform::PathKind::Missing)
            continue;
        const QString path = clientFolder + QLatin1Char('/') + entry.path;
        if (StillInstalled(entry, path))
            dropped.append(entry.path);
        else if (Platform::pathKind(path) != Platform::PathKind::Missing)
            ++changed;
    }
    if (changed > 0)
        qInfo() << "dropped files kept:" << changed << "no longer as installed";
    return dropped;
}

} // namespace InstalledFiles
