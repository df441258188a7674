#include "install/installerinstall.h"

#include "global.h"
#include "release/installedsequence.h"

bool InstallerInstall::Install(const QString& package, const ReleaseOffer& offer)
{
    // The installer is trusted to install what the signed release announced.
    if (offer.sequence > 0 && !g_global.m_runEnd.IsEnded())
        InstalledSequence::write(offer.sequence);
    QString program = package;
    g_global.UpAppInstallThread(program);
    return true;
}
