#pragma once

#include "base/result.h"
#include "install/packageinstall.h"
#include "platform/platform.h"

class ClientBackup;

// A zip package: unpacked beside itself, copied over the client's installation folder all or
// nothing, and confirmed by the version the client's own configuration then names.
class ZipInstall : public PackageInstall
{
public:
    bool Install(const QString& package, const ReleaseOffer& offer) override;

    // Unpacks the package, copies it over the client's installation folder and confirms the new
    // version from the client's configuration; then leaves the notes and the marker for the
    // client and records the version. 0 on success, -1 on any failure, with the client folder
    // put back.
    int DecompressionReplac(const QString& package, const ReleaseOffer& offer);

private:
    static qint64 RoomForUnpacking(const QString& unpackFolder);
    static bool CopyUnpackedTree(const Platform::CopyRequest& copy);
    static bool Confirmed(const ReleaseOffer& offer);
    static Outcome PrepareUpdaterFolder(const Platform::CopyRequest& copy,
                                        const ReleaseOffer& offer);
    static int RestoreClient(ClientBackup& backup);
    static bool WriteForClient(const QString& path, const QByteArray& content);
};
