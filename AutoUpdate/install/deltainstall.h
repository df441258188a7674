#pragma once

#include "base/result.h"
#include "install/deltaplan.h"
#include "release/releasemanifest.h"
#include "release/releaseoffer.h"

#include <QByteArray>
#include <QString>

// The checks of the delta road, before and after the delta is fetched. Whatever they refuse, the
// full package is fetched instead; nothing here touches the client's folder.
namespace DeltaInstall {

// Whether the offer can be installed from a delta at all: a zip release that names its
// manifest's digest and offers a delta from the installed version.
const DeltaOffer* UsableDelta(const ReleaseOffer& offer, const QString& installedVersion);

// The fetched plan, once its bytes are the ones the answer names and it turns the installed
// version into the offered one.
Result<DeltaPlan> AnnouncedPlan(const QByteArray& planBytes, const DeltaOffer& delta,
                                const ReleaseOffer& offer, const QString& installedVersion);
// Whether every installed file a patch of the plan applies to is the one it was made against.
Outcome CheckPatchedFiles(const DeltaPlan& plan, const QString& clientFolder);

// Unpacks the fetched delta of the announced plan beside itself and rebuilds the offered release's
// whole tree in outputTree, each file verified against the release's manifest, whose digest the
// offer names, and hands that manifest back. outputTree is removed again on failure.
Result<ReleaseManifest> Rebuild(const QString& deltaPackage, const DeltaPlan& plan,
                                const ReleaseOffer& offer, const QString& clientFolder,
                                const QString& outputTree);

} // namespace DeltaInstall
