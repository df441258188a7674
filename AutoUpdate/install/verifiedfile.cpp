#include "install/verifiedfile.h"

namespace {
constexpr qint64 kBlockSize = 1 << 20;
}

VerifiedFile::VerifiedFile(const QString& path, qint64 expectedSize, const QString& expectedSha256)
    : m_file(path), m_expectedSize(expectedSize), m_expectedSha256(expectedSha256)
{}

VerifiedFile::~VerifiedFile()
{
    if (m_finished)
        return;
    m_file.close();
    if (m_file.exists())
        m_file.remove();
}

Outcome VerifiedFile::open()
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Outcome::failure(QStringLiteral("cannot be created: ") + m_file.errorString());
    return Outcome::success();
}

Outcome VerifiedFile::write(const char* data, qint64 size)
{
    if (size > m_expectedSize - m_written)
        return Outcome::failure(
            QStringLiteral("comes out longer than %1 bytes").arg(m_expectedSize));
    if (m_file.write(data, size) != size)
        return Outcome::failure(QStringLiteral("cannot be written: ") + m_file.errorString());
    m_hash.addData(data, size);
    m_written += size;
    return Outcome::success();
}

Outcome VerifiedFile::finish()
{
    if (m_written != m_expectedSize)
        return Outcome::failure(
            QStringLiteral("comes out %1 bytes long, not %2").arg(m_written).arg(m_expectedSize));
    if (m_hash.hex() != m_expectedSha256)
        return Outcome::failure(
            QStringLiteral("comes out with another SHA-256 than %1").arg(m_expectedSha256));
    const bool flushed = m_file.flush();
    m_file.close();
    if (!flushed || m_file.error() != QFileDevice::NoError)
        return Outcome::failure(QStringLiteral("cannot be written: ") + m_file.errorString());
    m_finished = true;
    return Outcome::success();
}

Outcome VerifiedFile::copy(const QString& sourcePath, const QString& path, qint64 expectedSize,
                           const QString& expectedSha256)
{
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return Outcome::failure(QStringLiteral("cannot be read: ") + source.errorString());
    VerifiedFile target(path, expectedSize, expectedSha256);
    Outcome outcome = target.open();
    QByteArray block(kBlockSize, Qt::Uninitialized);
    for (qint64 n; outcome && (n = source.read(block.data(), kBlockSize)) != 0;) {
        if (n < 0)
            return Outcome::failure(QStringLiteral("cannot be read: ") + source.errorString());
        outcome = target.write(block.constData(), n);
    }
    return outcome ? target.finish() : outcome;
}
