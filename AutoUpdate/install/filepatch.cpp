#include "install/filepatch.h"

#include "install/diffstream.h"
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

// A decoder that refuses windows past the bound, and where given one reads the reference as the
// frame's prefix.
Result<DecoderContext> decoderFor(const uchar* reference, qint64 size)
{
    DecoderContext context(ZSTD_createDCtx(), &ZSTD_freeDCtx);
    if (!context)
        return Result<DecoderContext>::failure(QStringLiteral("no memory for the decoder"));
    size_t code =
        ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, FilePatch::kMaxWindowLog);
    if (!ZSTD_isError(code) && reference)
        code = ZSTD_DCtx_refPrefix(context.get(), reference, static_cast<size_t>(size));
    if (ZSTD_isError(code))
        return Result<DecoderContext>::failure(zstdError(code));
    return Result<DecoderContext>(std::move(context));
}

// Feeds the patch through the decoder into sink. A frame's last byte is taken only once all of
// its content has been handed out, so reading to the end of the file flushes everything.
Outcome decode(ZSTD_DCtx* decoder, QFile& patch, const DiffStream::Sink& sink)
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
            const Outcome written = sink(out.constData(), static_cast<qint64>(produced.pos));
            if (!written)
                return written;
        }
    }
    if (hint != 0)
        return Outcome::failure(QStringLiteral("the patch ends inside its frame"));
    return Outcome::success();
}

// A patch's content is the new file; a diff's goes through the DiffStream against the old one.
Outcome decodeInto(DeltaPlan::Kind kind, QFile& patch, const uchar* reference, qint64 referenceSize,
                   VerifiedFile& output)
{
    const auto write = [&](const char* data, qint64 size) { return output.write(data, size); };
    const bool isDiff = kind == DeltaPlan::Kind::Diff;
    const Result<DecoderContext> decoder = decoderFor(isDiff ? nullptr : reference, referenceSize);
    if (!decoder)
        return Outcome::failure(decoder.error());
    if (!isDiff)
        return decode(decoder.value().get(), patch, write);
    DiffStream diff(reference, referenceSize, write);
    Outcome decoded = decode(decoder.value().get(), patch,
                             [&](const char* data, qint64 size) { return diff.feed(data, size); });
    return decoded ? diff.finish() : decoded;
}

} // namespace

QString FilePatch::headerFault(DeltaPlan::Kind kind, const QString& patchPath, qint64 expectedSize)
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
    if (kind == DeltaPlan::Kind::Patch && declared != static_cast<unsigned long long>(expectedSize))
        return QStringLiteral("the patch makes %1 bytes, the manifest expects %2")
            .arg(declared)
            .arg(expectedSize);
    return QString();
}

Outcome FilePatch::apply(DeltaPlan::Kind kind, const QString& referencePath,
                         const QString& patchPath, const QString& outputPath, qint64 expectedSize,
                         const QString& expectedSha256)
{
    const QString fault = headerFault(kind, patchPath, expectedSize);
    if (!fault.isEmpty())
        return Outcome::failure(fault);
    QFile reference(referencePath);
    QFile patch(patchPath);
    if (!reference.open(QIODevice::ReadOnly) || !patch.open(QIODevice::ReadOnly))
        return Outcome::failure(QStringLiteral("cannot be read: ") + reference.errorString() +
                                patch.errorString());
    const qint64 referenceSize = reference.size();
    // An empty file cannot be mapped, and needs no memory.
    const uchar* oldBytes = referenceSize > 0 ? reference.map(0, referenceSize) : nullptr;
    if (referenceSize > 0 && !oldBytes)
        return Outcome::failure(QStringLiteral("the old file cannot be mapped: ") +
                                reference.errorString());
    VerifiedFile output(outputPath, expectedSize, expectedSha256);
    Outcome written = output.open();
    if (written)
        written = decodeInto(kind, patch, oldBytes, referenceSize, output);
    return written ? output.finish() : written;
}
