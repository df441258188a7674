#include "check/updatecheck.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// The check answer comes from a service whose certificate is not verified: any bytes at all.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray answer(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const Result<ReleaseOffer> offer = UpdateCheck::offerIn(answer, {QStringLiteral("2.0.3"), {}});
    // Both languages, so that both halves of the notes are picked.
    if (offer) {
        offer->notesIn(size % 2 == 0 ? QStringLiteral("en") : QStringLiteral("zh"));
        offer->deltaFrom(QStringLiteral("2.0.3"));
    }
    return 0;
}
