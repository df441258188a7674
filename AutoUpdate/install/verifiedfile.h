#pragma once

#include "base/result.h"
#include "base/sha256.h"

#include <QFile>
#include <QString>

// A file being written that must come out with a size and SHA-256 known beforehand. The digest
// is taken as the bytes go out, so the file is never read back; a file that is not finished
// whole and matching is removed again when the object goes.
class VerifiedFile
{
public:
    VerifiedFile(const QString& path, qint64 expectedSize, const QString& expectedSha256);
    ~VerifiedFile();
    VerifiedFile(const VerifiedFile&) = delete;
    VerifiedFile& operator=(const VerifiedFile&) = delete;

    // Creates the file; never replaces one, nor writes through a link left at its path.
    Outcome open();
    // Refuses bytes past the expected size.
    Outcome write(const char* data, qint64 size);
    Outcome finish();

    // Copies the file at sourcePath into a new file at path, in blocks, checked as above.
    static Outcome copy(const QString& sourcePath, const QString& path, qint64 expectedSize,
                        const QString& expectedSha256);

private:
    QFile m_file;
    qint64 m_expectedSize;
    QString m_expectedSha256;
    Sha256 m_hash;
    qint64 m_written = 0;
    bool m_finished = false;
};
