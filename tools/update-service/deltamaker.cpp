#include "deltamaker.h"

#include "filediff.h"
#include "fileio.h"
#include "install/packageunpacker.h"
#include "packagezip.h"
#include "release/releasemanifest.h"
#include "zstdframe.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <optional>
#include <utility>
#include <vector>

#include <zip.h>
#include <zlib.h>

namespace updateservice {

namespace {

constexpr int kDeflateLevel = 9;

// A file's bytes, mapped: a new file and the old one it is compared with may both be large.
class MappedFile
{
public:
    explicit MappedFile(const QString& path) : m_file(path) {}

    Outcome open()
    {
        if (!m_file.open(QIODevice::ReadOnly))
            return Outcome::failure(
                QStringLiteral("cannot read %1: %2").arg(m_file.fileName(), m_file.errorString()));
        if (size() > kMaxPackageSize)
            return Outcome::failure(QStringLiteral("%1 is larger than a package may be (2 GiB)")
                                        .arg(m_file.fileName()));
        m_data = size() > 0 ? m_file.map(0, size()) : nullptr;
        if (size() > 0 && !m_data)
            return Outcome::failure(
                QStringLiteral("cannot map %1: %2").arg(m_file.fileName(), m_file.errorString()));
        return Outcome::success();
    }
    const uchar* data() const { return m_data; }
    qint64 size() const { return m_file.size(); }

private:
    QFile m_file;
    uchar* m_data = nullptr;
};

// A zstd patch: the new file compressed with the old one as its prefix, so that any part of the
// new file can refer to any part of the old one.
Result<std::vector<char>> zstdPatchOf(const MappedFile& oldFile, const MappedFile& newFile)
{
    return zstdFrame(newFile.data(), newFile.size(), oldFile.data(), oldFile.size());
}

// The patch of the kind (see FilePatch); none of kind "diff" for files too large to sort.
std::optional<Result<std::vector<char>>> patchOf(DeltaPlan::Kind kind, const MappedFile& oldFile,
                                                 const MappedFile& newFile)
{
    if (kind == DeltaPlan::Kind::Patch)
        return zstdPatchOf(oldFile, newFile);
    if (oldFile.size() > kMaxDiffedFileSize || newFile.size() > kMaxDiffedFileSize)
        return std::nullopt;
    return diffOf(oldFile.data(), oldFile.size(), newFile.data(), newFile.size());
}

// The size of the file deflated as the package will hold it; the output is counted, not kept.
qint64 deflatedSize(const MappedFile& file)
{
    z_stream stream{};
    if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return file.size();
    QByteArray scratch(1 << 20, Qt::Uninitialized);
    stream.next_in = const_cast<Bytef*>(file.data());
    stream.avail_in = static_cast<uInt>(file.size());
    qint64 total = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(scratch.data());
        stream.avail_out = static_cast<uInt>(scratch.size());
        status = deflate(&stream, Z_FINISH);
        total += scratch.size() - static_cast<qint64>(stream.avail_out);
    }
    deflateEnd(&stream);
    return total;
}

class DeltaMaker
{
public:
    explicit DeltaMaker(const DeltaRequest& request)
        : m_request(request), m_top(PackageUnpacker::topFolderName(request.deltaPath))
    {}

    Result<DeltaSummary> run()
    {
        using R = Result<DeltaSummary>;
        if (!m_request.deltaPath.endsWith(QStringLiteral(".zip")) || m_top.isEmpty())
            return R::failure(
                QStringLiteral("the delta %1 is not named <name>.zip").arg(m_request.deltaPath));
        const Result<ReleaseManifest> oldManifest = ReleaseManifest::fromFolder(m_request.oldTree);
        if (!oldManifest)
            return R::failure(oldManifest.error());
        const Result<ReleaseManifest> newManifest = ReleaseManifest::fromFolder(m_request.newTree);
        if (!newManifest)
            return R::failure(newManifest.error());
        const Outcome compared = compare(oldManifest.value(), newManifest.value());
        const Outcome written = compared ? writePackage(newManifest->toJson()) : compared;
        if (!written) {
            QFile::remove(m_request.deltaPath);
            return R::failure(written.error());
        }
        return m_summary;
    }

private:
    struct Content
    {
        QString entryName;
        // A patch kept until the package is written; a whole file is read from the new tree.
        std::vector<char> patch;
        QString wholeFile;
    };

    Outcome compare(const ReleaseManifest& oldManifest, const ReleaseManifest& newManifest)
    {
        for (const ReleaseManifest::Entry& entry : newManifest.entries()) {
            const ReleaseManifest::Entry* old = oldManifest.find(entry.path);
            if (old && old->size == entry.size && old->sha256 == entry.sha256) {
                ++m_summary.unchanged;
                continue;
            }
            const Outcome added = addChange(entry, old);
            if (!added)
                return added;
        }
        for (const ReleaseManifest::Entry& entry : oldManifest.entries()) {
            if (!newManifest.find(entry.path))
                m_dropped.append(entry.path);
        }
        m_summary.dropped = m_dropped.size();
        return Outcome::success();
    }

    Outcome addChange(const ReleaseManifest::Entry& entry, const ReleaseManifest::Entry* old)
    {
        MappedFile newFile(QDir(m_request.newTree).filePath(entry.path));
        MappedFile oldFile(QDir(m_request.oldTree).filePath(entry.path));
        Outcome opened = newFile.open();
        if (opened && old)
            opened = oldFile.open();
        if (!opened)
            return opened;
        DeltaPlan::Change change{entry.path, DeltaPlan::Kind::Whole, 0, QString()};
        DeltaFile file{entry.path, DeltaPlan::Kind::Whole, entry.size, deflatedSize(newFile)};
        Content content;
        if (old && oldFile.size() > 0) {
            for (const DeltaPlan::Kind kind : {DeltaPlan::Kind::Patch, DeltaPlan::Kind::Diff}) {
                std::optional<Result<std::vector<char>>> patch = patchOf(kind, oldFile, newFile);
                if (!patch)
                    continue;
                if (!*patch)
                    return Outcome::failure(
                        QStringLiteral("%1: %2").arg(entry.path, patch->error()));
                if (static_cast<qint64>(patch->value().size()) < file.bytes) {
                    file.bytes = static_cast<qint64>(patch->value().size());
                    change = {entry.path, kind, old->size, old->sha256};
                    content.patch = std::move(patch->value());
                }
            }
        }
        file.kind = change.kind;
        content.entryName = m_top + QLatin1Char('/') + DeltaPlan::contentPath(change);
        if (change.kind == DeltaPlan::Kind::Whole)
            content.wholeFile = QDir(m_request.newTree).filePath(entry.path);
        m_changes.append(change);
        m_contents.append(std::move(content));
        m_summary.files.append(file);
        return Outcome::success();
    }

    Outcome writePackage(const QByteArray& manifest)
    {
        const QByteArray path = QFile::encodeName(m_request.deltaPath);
        zip_t* archive = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
        if (!archive)
            return Outcome::failure(QStringLiteral("cannot write %1").arg(m_request.deltaPath));
        m_plan =
            DeltaPlan(m_request.fromVersion, m_request.toVersion, m_changes, m_dropped).toJson();
        m_manifest = manifest;
        const bool added =
            addFolders(archive) &&
            addBuffer(archive, m_top + '/' + DeltaPlan::manifestFile(), m_manifest) &&
            addContents(archive);
        // A closed archive is gone; one that could not be closed is still to be discarded.
        if (!added || zip_close(archive) != 0) {
            const QString reason = QString::fromLocal8Bit(zip_strerror(archive));
            zip_discard(archive);
            return Outcome::failure(
                QStringLiteral("cannot write %1: %2").arg(m_request.deltaPath, reason));
        }
        m_summary.size = QFileInfo(m_request.deltaPath).size();
        m_summary.plan = m_plan;
        if (m_summary.size > kMaxPackageSize)
            return Outcome::failure(QStringLiteral("the delta grows beyond 2 GiB, more than a "
                                                   "check answer can announce"));
        return Outcome::success();
    }

    // A directory entry for every folder, ahead of the files, as in a full package.
    bool addFolders(zip_t* archive) const
    {
        QSet<QString> folders{m_top};
        for (const Content& content : m_contents) {
            for (QString folder = QFileInfo(content.entryName).path(); folder != m_top;
                 folder = QFileInfo(folder).path())
                folders.insert(folder);
        }
        QStringList sorted = folders.values();
        sorted.sort();
        for (const QString& folder : qAsConst(sorted)) {
            if (zip_dir_add(archive, (folder + '/').toUtf8().constData(), ZIP_FL_ENC_UTF_8) < 0)
                return false;
        }
        return true;
    }

    bool addContents(zip_t* archive) const
    {
        for (const Content& content : m_contents) {
            const bool added = content.wholeFile.isEmpty()
                                   ? addBuffer(archive, content.entryName, content.patch.data(),
                                               content.patch.size(), false)
                                   : addFile(archive, content.entryName, content.wholeFile);
            if (!added)
                return false;
        }
        return true;
    }

    // The bytes must stay until the archive is closed.
    static bool addBuffer(zip_t* archive, const QString& name, const char* data, size_t size,
                          bool deflate)
    {
        zip_source_t* source = zip_source_buffer(archive, data, size, 0);
        return source && addSource(archive, name, source, deflate);
    }

    static bool addBuffer(zip_t* archive, const QString& name, const QByteArray& bytes)
    {
        return addBuffer(archive, name, bytes.constData(), static_cast<size_t>(bytes.size()), true);
    }

    static bool addFile(zip_t* archive, const QString& name, const QString& path)
    {
        zip_source_t* source = zip_source_file(archive, QFile::encodeName(path).constData(), 0, -1);
        return source && addSource(archive, name, source, true);
    }

    // Patches are stored: zstd leaves nothing for deflate to find.
    static bool addSource(zip_t* archive, const QString& name, zip_source_t* source, bool deflate)
    {
        const zip_int64_t index =
            zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            return false;
        }
        const auto entry = static_cast<zip_uint64_t>(index);
        return zip_set_file_compression(archive, entry, deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                        deflate ? kDeflateLevel : 0) == 0;
    }

    const DeltaRequest& m_request;
    const QString m_top;
    QVector<DeltaPlan::Change> m_changes;
    QVector<Content> m_contents;
    QStringList m_dropped;
    QByteArray m_plan;
    QByteArray m_manifest;
    DeltaSummary m_summary;
};

} // namespace

Result<DeltaSummary> makeDelta(const DeltaRequest& request)
{
    return DeltaMaker(request).run();
}

Result<QString> writeReleaseManifest(const QString& tree, const QString& path)
{
    const Result<ReleaseManifest> manifest = ReleaseManifest::fromFolder(tree);
    if (!manifest)
        return Result<QString>::failure(manifest.error());
    const QByteArray json = manifest->toJson();
    const Outcome written = writeWholeFile(path, json);
    if (!written)
        return Result<QString>::failure(written.error());
    return QString::fromLatin1(QCryptographicHash::hash(json, QCryptographicHash::Sha256).toHex());
}

} // namespace updateservice
