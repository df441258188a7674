#include "install/deltaplan.h"
#include "install/diffstream.h"
#include "release/releasemanifest.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// What the manifest reader accepts, it writes in a form that it reads back the same.
void checkManifest(const QByteArray& json)
{
    const Result<ReleaseManifest> manifest = ReleaseManifest::fromJson(json);
    if (!manifest)
        return;
    const Result<ReleaseManifest> again = ReleaseManifest::fromJson(manifest->toJson());
    if (!again || again->entries() != manifest->entries())
        std::abort();
}

void checkPlan(const QByteArray& json)
{
    const Result<DeltaPlan> plan = DeltaPlan::fromJson(json);
    if (!plan)
        return;
    const Result<DeltaPlan> again = DeltaPlan::fromJson(plan->toJson());
    if (!again || again->fromVersion() != plan->fromVersion() ||
        again->toVersion() != plan->toVersion() || again->changes() != plan->changes() ||
        again->dropped() != plan->dropped())
        std::abort();
}

// A diff never reads outside the old file and hands the sink only what its records make.
void checkDiff(const QByteArray& stream)
{
    static const QByteArray oldFile(4096, 'o');
    constexpr qint64 kMaxOutput = 1 << 20;
    qint64 produced = 0;
    DiffStream diff(reinterpret_cast<const uchar*>(oldFile.constData()), oldFile.size(),
                    [&](const char*, qint64 size) {
                        if (size <= 0)
                            std::abort();
                        produced += size;
                        return produced <= kMaxOutput
                                   ? Outcome::success()
                                   : Outcome::failure(QStringLiteral("too long"));
                    });
    if (diff.feed(stream.constData(), stream.size()))
        diff.finish();
}

} // namespace

// A release manifest, a delta plan and a diff come from the network: any bytes at all.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<int>(size));
    checkManifest(json);
    checkPlan(json);
    checkDiff(json);
    return 0;
}
