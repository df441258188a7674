#pragma once

#include "base/result.h"
#include "install/deltaplan.h"
#include "release/releasemanifest.h"

#include <QHash>
#include <QString>
#include <QVector>

// Builds a release's whole tree from a delta package and the client installed from the release
// before it: changed files from their patches or whole from the package, the others copied from
// the client's folder. Every file is checked against the new release's manifest as it is
// written. Nothing is read or written outside the given folders, nor through a link in them.
class DeltaRebuild
{
public:
    // deltaFolder: the package's unpacked top folder. installedFolder: the client's folder.
    DeltaRebuild(const DeltaPlan& plan, const ReleaseManifest& manifest, const QString& deltaFolder,
                 const QString& installedFolder);
    DeltaRebuild(const DeltaRebuild&) = delete;
    DeltaRebuild& operator=(const DeltaRebuild&) = delete;

    // outputFolder must not exist yet. Everything the rebuild needs is checked before it is made:
    // the plan agrees with the manifest, every file it reads is there with the size it expects,
    // and every patch declares the size the manifest gives (DeltaInstall::CheckPatchedFiles
    // checked the old files' digests before the delta was fetched). Every file written must
    // then come out with the manifest's SHA-256. Whatever fails, outputFolder is removed again
    // and the reason names the file.
    Outcome rebuild(const QString& outputFolder);

private:
    struct Step
    {
        const ReleaseManifest::Entry* entry = nullptr;
        // Where the file's bytes come from: a patch, the package's whole file or the client's.
        QString source;
        // The installed file a patch applies to; empty for a copy.
        QString reference;
        DeltaPlan::Kind kind = DeltaPlan::Kind::Whole;
    };

    Outcome checkPlan() const;
    Result<Step> stepFor(const ReleaseManifest::Entry& entry) const;
    Result<Step> patchStep(const ReleaseManifest::Entry& entry,
                           const DeltaPlan::Change& change) const;
    static bool makeFolders(const QVector<Step>& steps, const QString& outputFolder);
    Outcome writeAll(const QVector<Step>& steps, const QString& outputFolder) const;
    Outcome write(const Step& step, const QString& outputFolder) const;

    const DeltaPlan m_plan;
    const ReleaseManifest m_manifest;
    QString m_deltaFolder;
    QString m_installedFolder;
    // The plan's changes by the key of their paths.
    QHash<QString, const DeltaPlan::Change*> m_changes;
};
