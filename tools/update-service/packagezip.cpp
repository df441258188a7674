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
    explicit FolderZipper(const QString& zipPath) : zip_(zipPath) {}

    bool write(const QString& folder, const QString& topFolder)
    {
        if (!zip_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return fail(
                QStringLiteral("cannot write %1: %2").arg(zip_.fileName(), zip_.errorString()));
        }
        QZipWriter writer(&zip_);
        const bool added = addFolder(writer, QDir(folder), topFolder);
        writer.close();
        zip_.close();
        return added && checkWritten(writer);
    }

    QString error() const { return error_; }

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
            return fail(QStringLiteral("cannot write %1").arg(zip_.fileName()));
        }
        if (zip_.size() > kMaxPackageSize) {
            return fail(QStringLiteral("the package grows beyond 2 GiB, more than a check answer "
                                       "can announce"));
        }
        return true;
    }

    bool fail(const QString& message)
    {
        error_ = message;
        return false;
    }

    QFile zip_;
    QString error_;
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
