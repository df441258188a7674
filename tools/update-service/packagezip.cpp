#include "packagezip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGui/private/qzipwriter_p.h>

#include <memory>

namespace updateservice {

namespace {

// QZipWriter has no zip64 and reads each file whole into memory; both are fine up to
// kMaxPackageSize, which is also as far as this writer lets a package grow.
class FolderZipper
{
public:
    explicit FolderZipper(const QString& zipPath) : m_zip(zipPath) {}

    Outcome write(const QString& folder, const QString& topFolder)
    {
        if (!m_zip.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return Outcome::failure(
                QStringLiteral("cannot write %1: %2").arg(m_zip.fileName(), m_zip.errorString()));
        }
        QZipWriter writer(&m_zip);
        const Outcome added = addFolder(writer, QDir(folder), topFolder);
        writer.close();
        m_zip.close();
        return added ? checkWritten(writer) : added;
    }

private:
    Outcome addFolder(QZipWriter& writer, const QDir& dir, const QString& entryPath)
    {
        if (!QFileInfo(dir.path()).isReadable()) {
            return Outcome::failure(QStringLiteral("cannot read folder %1").arg(dir.path()));
        }
        writer.addDirectory(entryPath);
        const QFileInfoList entries = dir.entryInfoList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::DirsLast);
        for (const QFileInfo& entry : entries) {
            const Outcome added = addEntry(writer, entry, entryPath + '/' + entry.fileName());
            if (!added) {
                return added;
            }
        }
        return Outcome::success();
    }

    Outcome addEntry(QZipWriter& writer, const QFileInfo& entry, const QString& entryPath)
    {
        if (entry.isSymLink()) {
            return Outcome::failure(
                QStringLiteral("%1 is a symbolic link, which a package cannot hold")
                    .arg(entry.filePath()));
        }
        return entry.isDir() ? addFolder(writer, QDir(entry.filePath()), entryPath)
                             : addFile(writer, entry, entryPath);
    }

    Outcome addFile(QZipWriter& writer, const QFileInfo& entry, const QString& entryPath)
    {
        if (entry.size() > kMaxPackageSize) {
            return Outcome::failure(
                QStringLiteral("%1 is larger than a package may be (2 GiB)").arg(entry.filePath()));
        }
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            return Outcome::failure(
                QStringLiteral("cannot read %1: %2").arg(entry.filePath(), file.errorString()));
        }
        writer.addFile(entryPath, &file);
        return checkWritten(writer);
    }

    Outcome checkWritten(const QZipWriter& writer)
    {
        if (writer.status() != QZipWriter::NoError) {
            return Outcome::failure(QStringLiteral("cannot write %1").arg(m_zip.fileName()));
        }
        if (m_zip.size() > kMaxPackageSize) {
            return Outcome::failure(QStringLiteral("the package grows beyond 2 GiB, more than a "
                                                   "check answer can announce"));
        }
        return Outcome::success();
    }

    QFile m_zip;
};

} // namespace

Outcome writeFolderZip(const QString& folder, const QString& topFolder, const QString& zipPath)
{
    return FolderZipper(zipPath).write(folder, topFolder);
}

} // namespace updateservice
