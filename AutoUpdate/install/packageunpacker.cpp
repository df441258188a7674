#include "install/packageunpacker.h"

#include "base/relativepath.h"
#include "install/zipheaders.h"
#include "platform/platform.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextCodec>

#include <algorithm>

#include <zip.h>
#include <zlib.h>

namespace {

constexpr int kBlockSize = 1 << 20;
constexpr quint32 kUnixFileTypeMask = 0170000;
constexpr quint32 kUnixSymLink = 0120000;
constexpr quint32 kUnixPermissionMask = 07777;

// Names are taken as stored: UTF-8 where they are valid UTF-8, which is what packages are
// written with, otherwise the system's 8-bit code page, as older Windows tools wrote them.
QString decodeName(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    const QString name =
        QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 ? name : QString::fromLocal8Bit(bytes);
}

// A link already on disk between the folder and the target would carry the write elsewhere.
bool passesThroughLink(const QString& target, const QString& folder)
{
    for (QString path = target; path.size() > folder.size();
         path = QFileInfo(path).absolutePath()) {
        if (Platform::pathKind(path) == Platform::PathKind::Link)
            return true;
    }
    return false;
}

QString archiveError(zip* archive)
{
    return QString::fromLocal8Bit(zip_strerror(archive));
}

// Windows file names go to libzip as UTF-16, so that any profile folder's name works.
zip_source_t* fileSource(const QString& path, zip_error_t* error)
{
#ifdef Q_OS_WIN
    const std::wstring widePath = QDir::toNativeSeparators(path).toStdWString();
    return zip_source_win32w_create(widePath.c_str(), 0, -1, error);
#else
    return zip_source_file_create(QFile::encodeName(path).constData(), 0, -1, error);
#endif
}

zip* openArchive(const QString& path, QString* failure)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = fileSource(path, &error);
    zip* archive =
        source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    if (!archive) {
        zip_source_free(source);
        *failure = QString::fromLocal8Bit(zip_error_strerror(&error));
    }
    zip_error_fini(&error);
    return archive;
}

#ifdef Q_OS_UNIX
// Execute bits follow the entry's Unix mode; the other bits stay as the system made them.
void applyExecuteBits(QFile& file, quint32 unixMode)
{
    constexpr QFile::Permissions kExecute =
        QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
    QFile::Permissions permissions = file.permissions() & ~kExecute;
    if (unixMode & 0100)
        permissions |= QFile::ExeOwner | QFile::ExeUser;
    if (unixMode & 0010)
        permissions |= QFile::ExeGroup;
    if (unixMode & 0001)
        permissions |= QFile::ExeOther;
    file.setPermissions(permissions);
}
#endif

} // namespace

void PackageUnpacker::ArchiveCloser::operator()(zip* archive) const
{
    zip_discard(archive);
}

PackageUnpacker::PackageUnpacker(const QString& packagePath, const QString& folder)
    : m_packagePath(packagePath), m_folder(folder), m_top(topFolderName(packagePath))
{}

PackageUnpacker::~PackageUnpacker() = default;

QString PackageUnpacker::topFolderName(const QString& packagePath)
{
    return QFileInfo(packagePath).fileName().section(QStringLiteral(".zip"), 0, 0);
}

QString PackageUnpacker::unsafeEntryReason(const QString& entryName, const QString& folder)
{
    const QString unsafe = RelativePath::unsafeReason(entryName);
    if (!unsafe.isEmpty())
        return unsafe;
    const QString base = QDir::cleanPath(folder);
    const QString resolved = QDir::cleanPath(folder + entryName);
    if (!resolved.startsWith(base + QLatin1Char('/')))
        return QStringLiteral("lands outside the folder");
    if (passesThroughLink(resolved, base))
        return QStringLiteral("passes through a link");
    return QString();
}

PackageUnpacker::Result PackageUnpacker::unpack(qint64 freeBytes)
{
    if (!open() || !readEntries(freeBytes))
        return Result::Refused;
    m_block.resize(kBlockSize);
    for (const Entry& entry : qAsConst(m_entries)) {
        const Result result = extract(entry);
        if (result != Result::Unpacked)
            return discardUnpacked(result);
    }
    return Result::Unpacked;
}

bool PackageUnpacker::open()
{
    if (m_top.isEmpty())
        return refusePackage(QStringLiteral("its file name has no base name"));
    if (!headersAgree())
        return false;
    QString failure;
    m_archive.reset(openArchive(m_packagePath, &failure));
    if (!m_archive)
        return refusePackage(QStringLiteral("cannot be opened: ") + failure);
    return true;
}

// Read by the archive's own records, before libzip trusts its central directory alone. The
// number of entries is limited here, before either reads them all.
bool PackageUnpacker::headersAgree() const
{
    QFile file(m_packagePath);
    if (!file.open(QIODevice::ReadOnly))
        return refusePackage(QStringLiteral("cannot be opened: ") + file.errorString());
    const auto checked = ZipHeaders::check(file, kMaxEntries);
    if (checked)
        return true;
    const ZipHeaders::Fault& fault = checked.error();
    return fault.entryName ? refuse(decodeName(*fault.entryName), fault.reason)
                           : refusePackage(fault.reason);
}

bool PackageUnpacker::readEntries(qint64 freeBytes)
{
    const qint64 count = zip_get_num_entries(m_archive.get(), 0);
    const quint64 expansionLimit =
        static_cast<quint64>(QFileInfo(m_packagePath).size()) * kMaxExpansion;
    const quint64 roomLimit = static_cast<quint64>(qMax<qint64>(freeBytes, 0));
    QSet<QString> written;
    quint64 total = 0;
    for (qint64 index = 0; index < count; ++index) {
        Entry entry;
        if (!readEntry(static_cast<quint64>(index), &entry))
            return false;
        const QString key = RelativePath::fileKey(RelativePath::clean(entry.name));
        if (written.contains(key))
            return refuse(entry.name, QStringLiteral("repeats an earlier entry's path"));
        written.insert(key);
        if (entry.kind == Kind::File)
            total += entry.size;
        if (total > expansionLimit)
            return refuse(
                entry.name,
                QStringLiteral("expands the package past %1 times its size").arg(kMaxExpansion));
        if (total > roomLimit)
            return refuse(entry.name,
                          QStringLiteral("needs more than the %1 bytes free").arg(roomLimit));
        m_entries.append(entry);
    }
    // Nothing to install would show only later, as a version that did not change.
    const bool holdsFiles =
        std::any_of(m_entries.cbegin(), m_entries.cend(),
                    [](const Entry& entry) { return entry.kind == Kind::File; });
    return holdsFiles || refusePackage(QStringLiteral("holds no files"));
}

bool PackageUnpacker::readEntry(quint64 index, Entry* entry)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    constexpr zip_uint64_t kNeeded = ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_CRC |
                                     ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
    if (zip_stat_index(m_archive.get(), index, ZIP_FL_ENC_RAW, &stat) != 0 ||
        (stat.valid & kNeeded) != kNeeded)
        return refusePackage(QStringLiteral("entry %1 cannot be read: %2")
                                 .arg(index)
                                 .arg(archiveError(m_archive.get())));
    entry->index = index;
    entry->name = decodeName(stat.name);
    entry->size = stat.size;
    entry->crc = stat.crc;

    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(m_archive.get(), index, 0, &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX) {
        const quint32 mode = attributes >> 16;
        if ((mode & kUnixFileTypeMask) == kUnixSymLink)
            entry->kind = Kind::Link;
        entry->unixMode = mode & kUnixPermissionMask;
    }
    if (entry->kind != Kind::Link && entry->name.endsWith(QLatin1Char('/')))
        entry->kind = Kind::Directory;

    const QString reason =
        refusalReason(*entry, stat.comp_method, stat.encryption_method != ZIP_EM_NONE);
    return reason.isEmpty() || refuse(entry->name, reason);
}

QString PackageUnpacker::refusalReason(const Entry& entry, int method, bool encrypted) const
{
    const QString unsafe = unsafeEntryReason(entry.name, m_folder);
    if (!unsafe.isEmpty())
        return unsafe;
    const QString path = RelativePath::clean(entry.name);
    if (path != m_top && !path.startsWith(m_top + QLatin1Char('/')))
        return QStringLiteral("lies outside the top folder \"%1\"").arg(m_top);
    if (method != ZIP_CM_STORE && method != ZIP_CM_DEFLATE)
        return QStringLiteral("uses compression method %1").arg(method);
    if (encrypted)
        return QStringLiteral("is encrypted");
    return QString();
}

PackageUnpacker::Result PackageUnpacker::extract(const Entry& entry)
{
    const QString target = m_folder + RelativePath::clean(entry.name);
    switch (entry.kind) {
    case Kind::Directory:
        // A folder that cannot be made shows as its first file that cannot be written.
        if (!QFileInfo::exists(target))
            QDir().mkpath(target);
        return Result::Unpacked;
    case Kind::Link:
        return Result::Unpacked;
    case Kind::File:
        break;
    }
    // Packages need not list a file's folders as entries of their own.
    QDir().mkpath(QFileInfo(target).path());
    return writeFile(entry, target);
}

PackageUnpacker::Result PackageUnpacker::writeFile(const Entry& entry, const QString& target)
{
    QFile file(target);
    QString refusal;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !copyEntryTo(entry, file, &refusal)) {
        if (!refusal.isEmpty()) {
            refuse(entry.name, refusal);
            return Result::Refused;
        }
        qDebug() << "unzip " << target << " failed:" << static_cast<int>(file.error());
        return Result::WriteFailed;
    }
#ifdef Q_OS_UNIX
    if (entry.unixMode != 0)
        applyExecuteBits(file, entry.unixMode);
#endif
    return Result::Unpacked;
}

// False with a refusal when the entry's data is not what the archive declares, false without
// one when the file cannot take it.
bool PackageUnpacker::copyEntryTo(const Entry& entry, QFile& file, QString* refusal)
{
    const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> data(
        zip_fopen_index(m_archive.get(), entry.index, 0), &zip_fclose);
    if (!data) {
        *refusal = QStringLiteral("cannot be read: ") + archiveError(m_archive.get());
        return false;
    }
    quint64 produced = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (zip_int64_t n; (n = zip_fread(data.get(), m_block.data(), kBlockSize)) != 0;) {
        if (n < 0) {
            *refusal = QStringLiteral("cannot be unpacked: ") +
                       QString::fromLocal8Bit(zip_file_strerror(data.get()));
            return false;
        }
        produced += static_cast<quint64>(n);
        if (produced > entry.size) {
            *refusal = QStringLiteral("holds more than its declared size");
            return false;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(m_block.constData()), static_cast<uInt>(n));
        if (file.write(m_block.constData(), n) != n)
            return false;
    }
    if (produced != entry.size)
        *refusal = QStringLiteral("holds less than its declared size");
    else if (crc != entry.crc)
        *refusal = QStringLiteral("fails its CRC check");
    // The size is asked of the open file: Qt would take a name ending in ".lnk" for a shortcut
    // and answer for its target.
    if (!refusal->isEmpty() || !file.flush() || file.size() != static_cast<qint64>(entry.size))
        return false;
    file.close();
    return file.error() == QFileDevice::NoError;
}

bool PackageUnpacker::refuse(const QString& name, const QString& reason) const
{
    qDebug() << "package refused, entry" << name << reason;
    return false;
}

bool PackageUnpacker::refusePackage(const QString& reason) const
{
    qDebug() << "package refused:" << m_packagePath << reason;
    return false;
}

PackageUnpacker::Result PackageUnpacker::discardUnpacked(Result result) const
{
    QDir(m_folder + m_top).removeRecursively();
    return result;
}
