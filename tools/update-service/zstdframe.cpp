#include "zstdframe.h"

#include "install/filepatch.h"

#include <memory>
#include <utility>

#include <zstd.h>

namespace updateservice {

namespace {

int windowLogFor(qint64 bytes)
{
    int log = ZSTD_cParam_getBounds(ZSTD_c_windowLog).lowerBound;
    while (log < FilePatch::kMaxWindowLog && (qint64(1) << log) < bytes)
        ++log;
    return log;
}

} // namespace

Result<std::vector<char>> zstdFrame(const uchar* data, qint64 size, const uchar* prefix,
                                    qint64 prefixSize)
{
    using R = Result<std::vector<char>>;
    const std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(),
                                                                       &ZSTD_freeCCtx);
    if (!context)
        return R::failure(QStringLiteral("no memory for the compressor"));
    ZSTD_CCtx* cctx = context.get();
    std::vector<char> frame(ZSTD_compressBound(static_cast<size_t>(size)));
    size_t code = 0;
    for (const auto& [parameter, value] :
         {std::pair{ZSTD_c_compressionLevel, ZSTD_maxCLevel()},
          std::pair{ZSTD_c_enableLongDistanceMatching, 1},
          std::pair{ZSTD_c_windowLog, windowLogFor(prefixSize + size)},
          std::pair{ZSTD_c_contentSizeFlag, 1}}) {
        if (!ZSTD_isError(code))
            code = ZSTD_CCtx_setParameter(cctx, parameter, value);
    }
    if (!ZSTD_isError(code) && prefix)
        code = ZSTD_CCtx_refPrefix(cctx, prefix, static_cast<size_t>(prefixSize));
    if (!ZSTD_isError(code))
        code = ZSTD_compress2(cctx, frame.data(), frame.size(), data, static_cast<size_t>(size));
    if (ZSTD_isError(code))
        return R::failure(QStringLiteral("cannot compress: %1")
                              .arg(QString::fromLatin1(ZSTD_getErrorName(code))));
    frame.resize(code);
    return R(std::move(frame));
}

} // namespace updateservice
