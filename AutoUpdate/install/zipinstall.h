#pragma once

#include "base/result.h"
#include "install/packageinstall.h"
#include "platform/platform.h"

#include <QStringList>

class ClientBackup;
class ReleaseManifest;

// A zip package: unpacked beside itself, copied over the client's installation folder all or
// nothing, and confirmed by the version the client's own configuration then names.
class ZipInstall : public PackageInstall
{
public:
    // verifiedTree: the manifest the tree to install was checked against as it was rebuilt, or
    // null for a package's tree (see InstalledFiles::record).
    explicit ZipInstall(const ReleaseManifest* verifiedTree = nullptr)
        : m_verifiedTree(verifiedTree)
    {}

    bool Install(const QString& package, const ReleaseOffer& offer) override;

    // Unpacks the package, copies it over the client's installation folder and confirms the new
    // version from the client's configuration; then leaves the notes and the marker for the
    // client and records the version. 0 on success, -1 on any failure, with the client folder
    // put back.
    int DecompressionReplac(const QString& package, const ReleaseOffer& offer);
    // The same for a tree already in the place the package would be unpacked to, as a delta
    // rebuilds it: copied over the client, the files of the last install that the tree does not
    // have removed with the copy (InstalledFiles), and put back with the rest on failure.
    int ReplaceClient(const QString& package, const ReleaseOffer& offer);

    // The updater's own folder in the unpacked tree, made this installation's, with the list of
    // the tree's files (see the definition); the elevated install prepares its tree the same way.
    static Outcome PrepareUpdaterFolder(const QString& tree, const ReleaseOffer& offer,
                                        const ReleaseManifest* verifiedTree = nullptr);
    // Every file of the unpacked tree came out whole below the client folder.
    static bool CopiedWhole(const QString& tree, const QString& clientFolder);

private:
    static qint64 RoomForUnpacking(const QString& unpackFolder);
    static bool CopyUnpackedTree(const Platform::CopyRequest& copy);
    static bool RemoveDropped(const Platform::CopyRequest& copy, const QStringList& dropped);
    static bool Confirmed(const ReleaseOffer& offer);
    static int InstallElevated(const QString& package, const ReleaseOffer& offer);
    static bool LeaveForClient(const ReleaseOffer& offer);
    static int RestoreClient(ClientBackup& backup);
    static bool WriteForClient(const QString& path, const QByteArray& content);

    const ReleaseManifest* m_verifiedTree;
};
