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

    bool write(const QString& folder, const QString& topFolder)
    {
        if (!m_zip.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return fail(
                QStringLiteral("cannot write %1: %2").arg(m_zip.fileName(), m_zip.errorString()));
        }
        QZipWriter writer(&m_zip);
        const bool added = addFolder(writer, QDir(folder), topFolder);
        writer.close();
        m_zip.close();
        return added && checkWritten(writer);
    }

    QString error() const { return m_error; }

private:
    bool addFolder(QZipWriter& writer, const QDir& dir, const QString& entryPath)
    {
        if (!QFileInfo(dir.path()).isReadable()) {
            return fail(QStringLiteral("cannot read folder %1").arg(dir.path()));
        }
        writer.addDirectory(entryPath);
        const QFileInfoList entries = dir.entryInfoList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::DirsLast);
        for (const QFileInfo& entry : entries) {
            const QString childPath = entryPath + '/' + entry.fileName();
            if (entry.isSymLink()) {
                return fail(QStringLiteral("%1 is a symbolic link, which a package cannot hold")
                                .arg(entry.filePath()));
            }
            if (!(entry.isDir() ? addFolder(writer, QDir(entry.filePath()), childPath)
                                : addFile(writer, entry, childPath))) {
                return false;
            }
        }
        return true;
    }

    bool addFile(QZipWriter& writer, const QFileInfo& entry, const QString& entryPath)
    {
        if (entry.size() > kMaxPackageSize) {
            return fail(
                QStringLiteral("%1 is larger than a package may be (2 GiB)").arg(entry.filePath()));
        }
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            return fail(
                QStringLiteral("cannot read %1: %2").arg(entry.filePath(), file.errorString()));
        }
        writer.addFile(entryPath, &file);
        return checkWritten(writer);
    }

    bool checkWritten(const QZipWriter& writer)
    {
        if (writer.status() != QZipWriter::NoError) {
            return fail(QStringLiteral("cannot write %1").arg(m_zip.fileName()));
        }
        if (m_zip.size() > kMaxPackageSize) {
            return fail(QStringLiteral("the package grows beyond 2 GiB, more than a check answer "
                                       "can announce"));
        }
        return true;
    }

    bool fail(const QString& message)
    {
        m_error = message;
        return false;
    }

    QFile m_zip;
    QString m_error;
};

} // namespace

bool writeFolderZip(const QString& folder, const QString& topFolder, const QString& zipPath,
                    QString* error)
{
    FolderZipper zipper(zipPath);
    if (zipper.write(folder, topFolder)) {
        return true;
    }
    if (error) {
        *error = zipper.error();
    }
    return false;
}

} // namespace updateservice
