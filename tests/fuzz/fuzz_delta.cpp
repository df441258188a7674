#include "install/deltaplan.h"
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

} // namespace

// A release manifest and a delta plan come from the network: any bytes at all.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<int>(size));
    checkManifest(json);
    checkPlan(json);
    return 0;
}
