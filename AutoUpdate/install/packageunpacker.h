#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QFile;
struct zip;

// Unpacks a zip package into a folder. A package can come from a compromised or spoofed service,
// so the whole archive is checked before anything is written, and refused whole on the first
// entry that fails: its names, methods, sizes and the room they need. Entries are then streamed
// in fixed blocks straight to their files, each of which must come out exactly as declared.
// Symbolic links are never created nor written through.
class PackageUnpacker
{
public:
    enum class Result { Unpacked, Refused, WriteFailed };

    static constexpr int kMaxEntries = 100000;
    static constexpr int kMaxExpansion = 100;

    // folder ends with "/"; the package's entries all lie below its top folder.
    PackageUnpacker(const QString& packagePath, const QString& folder);
    ~PackageUnpacker();
    PackageUnpacker(const PackageUnpacker&) = delete;
    PackageUnpacker& operator=(const PackageUnpacker&) = delete;

    // freeBytes: the room the unpacked files may take. A file's folders are made before it is
    // written, whether the archive has entries of their own or not. Whatever fails, the
    // package's top folder is removed again.
    Result unpack(qint64 freeBytes);

    // The folder every entry must lie in: the package's file name before its ".zip".
    static QString topFolderName(const QString& packagePath);
    // Why an entry name is refused, or an empty text when it may be unpacked into folder.
    static QString unsafeEntryReason(const QString& entryName, const QString& folder);

private:
    enum class Kind { Directory, File, Link };
    struct Entry
    {
        quint64 index = 0;
        QString name;
        Kind kind = Kind::File;
        quint64 size = 0;
        quint32 crc = 0;
        // The permission bits of a Unix entry, 0 when the archive records none.
        quint32 unixMode = 0;
    };

    bool open();
    bool headersAgree() const;
    bool readEntries(qint64 freeBytes);
    bool readEntry(quint64 index, Entry* entry);
    QString refusalReason(const Entry& entry, int method, bool encrypted) const;
    Result extract(const Entry& entry);
    Result writeFile(const Entry& entry, const QString& target);
    bool copyEntryTo(const Entry& entry, QFile& file, QString* refusal);
    bool refuse(const QString& name, const QString& reason) const;
    bool refusePackage(const QString& reason) const;
    Result discardUnpacked(Result result) const;

    QString m_packagePath;
    QString m_folder;
    QString m_top;
    struct ArchiveCloser
    {
        void operator()(zip* archive) const;
    };

    std::unique_ptr<zip, ArchiveCloser> m_archive;
    QByteArray m_block;
    QList<Entry> m_entries;
};
