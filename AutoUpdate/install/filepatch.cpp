#include "install/filepatch.h"

#include "install/verifiedfile.h"

#include <QByteArray>
#include <QFile>

#include <memory>

#include <zstd.h>

namespace {

// The longest frame header the format allows.
constexpr int kFrameHeaderMaxSize = 18;

using DecoderContext = std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)>;

QString zstdError(size_t code)
{
    return QString::fromLatin1(ZSTD_getErrorName(code));
}

// A decoder that refuses windows past the bound and reads the reference as the frame's prefix.
Result<DecoderContext> decoderFor(const uchar* reference, qint64 size)
{
    DecoderContext context(ZSTD_createDCtx(), &ZSTD_freeDCtx);
    if (!context)
        return Result<DecoderContext>::failure(QStringLiteral("no memory for the decoder"));
    size_t code =
        ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, FilePatch::kMaxWindowLog);
    if (!ZSTD_isError(code))
        code = ZSTD_DCtx_refPrefix(context.get(), reference, static_cast<size_t>(size));
    if (ZSTD_isError(code))
        return Result<DecoderContext>::failure(zstdError(code));
    return Result<DecoderContext>(std::move(context));
}

// Feeds the patch through the decoder into output. A frame's last byte is taken only once all
// of its content has been handed out, so reading to the end of the file flushes everything.
Outcome decode(ZSTD_DCtx* decoder, QFile& patch, VerifiedFile& output)
{
    QByteArray in(static_cast<int>(ZSTD_DStreamInSize()), Qt::Uninitialized);
    QByteArray out(static_cast<int>(ZSTD_DStreamOutSize()), Qt::Uninitialized);
    size_t hint = 1;
    for (qint64 n; (n = patch.read(in.data(), in.size())) != 0;) {
        if (n < 0)
            return Outcome::failure(QStringLiteral("the patch cannot be read: ") +
                                    patch.errorString());
        ZSTD_inBuffer input{in.constData(), static_cast<size_t>(n), 0};
        while (input.pos < input.size) {
            if (hint == 0)
                return Outcome::failure(QStringLiteral("the patch holds data after its frame"));
            ZSTD_outBuffer produced{out.data(), static_cast<size_t>(out.size()), 0};
            hint = ZSTD_decompressStream(decoder, &produced, &input);
            if (ZSTD_isError(hint))
                return Outcome::failure(QStringLiteral("the patch cannot be applied: ") +
                                        zstdError(hint));
            const Outcome written = output.write(out.constData(), produced.pos);
            if (!written)
                return written;
        }
    }
    if (hint != 0)
        return Outcome::failure(QStringLiteral("the patch ends inside its frame"));
    return output.finish();
}

} // namespace

QString FilePatch::headerFault(const QString& patchPath, qint64 expectedSize)
{
    QFile patch(patchPath);
    if (!patch.open(QIODevice::ReadOnly))
        return QStringLiteral("the patch cannot be read: ") + patch.errorString();
    const QByteArray header = patch.read(kFrameHeaderMaxSize);
    const unsigned long long declared =
        ZSTD_getFrameContentSize(header.constData(), static_cast<size_t>(header.size()));
    if (declared == ZSTD_CONTENTSIZE_ERROR)
        return QStringLiteral("the patch is not a zstd frame");
    if (declared == ZSTD_CONTENTSIZE_UNKNOWN)
        return QStringLiteral("the patch does not declare the size it makes");
    if (declared != static_cast<unsigned long long>(expectedSize))
        return QStringLiteral("the patch makes %1 bytes, the manifest expects %2")
            .arg(declared)
            .arg(expectedSize);
    return QString();
}

Outcome FilePatch::apply(const QString& referencePath, const QString& patchPath,
                         const QString& outputPath, qint64 expectedSize,
                         const QString& expectedSha256)
{
    const QString fault = headerFault(patchPath, expectedSize);
    if (!fault.isEmpty())
        return Outcome::failure(fault);
    QFile reference(referencePath);
    QFile patch(patchPath);
    if (!reference.open(QIODevice::ReadOnly) || !patch.open(QIODevice::ReadOnly))
        return Outcome::failure(QStringLiteral("cannot be read: ") + reference.errorString() +
                                patch.errorString());
    const qint64 referenceSize = reference.size();
    // An empty file cannot be mapped, and an empty prefix needs no memory.
    const uchar* prefix = referenceSize > 0 ? reference.map(0, referenceSize) : nullptr;
    if (referenceSize > 0 && !prefix)
        return Outcome::failure(QStringLiteral("the old file cannot be mapped: ") +
                                reference.errorString());
    const Result<DecoderContext> decoder = decoderFor(prefix, referenceSize);
    if (!decoder)
        return Outcome::failure(decoder.error());
    VerifiedFile output(outputPath, expectedSize, expectedSha256);
    const Outcome opened = output.open();
    return opened ? decode(decoder.value().get(), patch, output) : opened;
}
