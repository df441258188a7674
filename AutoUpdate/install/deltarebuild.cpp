#include "install/deltarebuild.h"

#include "base/relativepath.h"
#include "install/filepatch.h"
#include "install/twolanes.h"
#include "install/verifiedfile.h"
#include "platform/platform.h"
#include "release/fieldreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The file at the cleaned relative path below folder, reached through folders only: a link on
// the way, or in the file's place, could lead anywhere.
Result<QString> fileBelow(const QString& folder, const QString& path)
{
    using R = Result<QString>;
    const QStringList parts = path.split(QLatin1Char('/'));
    QString reached = folder;
    for (int index = 0; index < parts.size(); ++index) {
        reached += QLatin1Char('/') + parts.at(index);
        const bool last = index == parts.size() - 1;
        switch (Platform::pathKind(reached)) {
        case Platform::PathKind::Link:
            return R::failure(QStringLiteral("%1 is a link").arg(reached));
        case Platform::PathKind::Missing:
            return R::failure(QStringLiteral("%1 is missing").arg(reached));
        case Platform::PathKind::Folder:
            if (last)
                return R::failure(QStringLiteral("%1 is a folder").arg(reached));
            break;
        case Platform::PathKind::File:
            if (!last)
                return R::failure(QStringLiteral("%1 is a file").arg(reached));
            break;
        }
    }
    return reached;
}

// The file below folder, which must have the given size.
Result<QString> fileOfSize(const QString& folder, const QString& path, qint64 size)
{
    const Result<QString> file = fileBelow(folder, path);
    if (file && QFileInfo(file.value()).size() != size)
        return Result<QString>::failure(QStringLiteral("%1 is %2 bytes long, not %3")
                                            .arg(file.value())
                                            .arg(QFileInfo(file.value()).size())
                                            .arg(size));
    return file;
}

Outcome refuse(const QString& path, const QString& reason)
{
    return Outcome::failure(QStringLiteral("\"%1\": %2").arg(path, reason));
}

} // namespace

DeltaRebuild::DeltaRebuild(const DeltaPlan& plan, const ReleaseManifest& manifest,
                           const QString& deltaFolder, const QString& installedFolder)
    : m_plan(plan), m_manifest(manifest), m_deltaFolder(QDir::cleanPath(deltaFolder)),
      m_installedFolder(QDir::cleanPath(installedFolder))
{
    for (const DeltaPlan::Change& change : m_plan.changes())
        m_changes.insert(RelativePath::fileKey(change.path), &change);
}

Outcome DeltaRebuild::rebuild(const QString& outputFolder)
{
    const QString output = QDir::cleanPath(outputFolder);
    if (Platform::pathKind(output) != Platform::PathKind::Missing)
        return Outcome::failure(QStringLiteral("%1 exists already").arg(output));
    const Outcome planned = checkPlan();
    if (!planned)
        return planned;
    QVector<Step> steps;
    steps.reserve(m_manifest.entries().size());
    for (const ReleaseManifest::Entry& entry : m_manifest.entries()) {
        const Result<Step> step = stepFor(entry);
        if (!step)
            return refuse(entry.path, step.error());
        steps.append(step.value());
    }
    if (!makeFolders(steps, output))
        return Outcome::failure(QStringLiteral("%1 cannot be made").arg(output));
    const Outcome written = writeAll(steps, output);
    if (!written)
        QDir(output).removeRecursively();
    return written;
}

bool DeltaRebuild::makeFolders(const QVector<Step>& steps, const QString& outputFolder)
{
    bool made = QDir().mkpath(outputFolder);
    for (const Step& step : steps)
        made = made &&
               QDir().mkpath(QFileInfo(outputFolder + QLatin1Char('/') + step.entry->path).path());
    return made;
}

// Copies run on a second thread beside the patches: both are mostly reading, hashing and
// writing, and the patches, which take the memory, still come one at a time.
Outcome DeltaRebuild::writeAll(const QVector<Step>& steps, const QString& outputFolder) const
{
    QVector<const Step*> copies;
    QVector<const Step*> patches;
    for (const Step& step : steps)
        (step.reference.isEmpty() ? copies : patches).append(&step);
    return onTwoLanes<const Step*>(patches, copies, [&](const Step* step) {
        const Outcome written = write(*step, outputFolder);
        return written ? written : refuse(step->entry->path, written.error());
    });
}

Outcome DeltaRebuild::checkPlan() const
{
    for (const DeltaPlan::Change& change : m_plan.changes()) {
        if (!m_manifest.find(change.path))
            return refuse(change.path, QStringLiteral("the delta changes a file the new release "
                                                      "does not hold"));
    }
    for (const QString& path : m_plan.dropped()) {
        if (m_manifest.find(path))
            return refuse(path, QStringLiteral("the delta drops a file the new release holds"));
    }
    return Outcome::success();
}

Result<DeltaRebuild::Step> DeltaRebuild::stepFor(const ReleaseManifest::Entry& entry) const
{
    const DeltaPlan::Change* change = m_changes.value(RelativePath::fileKey(entry.path));
    if (change && change->appliesToOldFile())
        return patchStep(entry, *change);
    const Result<QString> source =
        change ? fileOfSize(m_deltaFolder, DeltaPlan::contentPath(*change), entry.size)
               : fileOfSize(m_installedFolder, entry.path, entry.size);
    if (!source)
        return Result<Step>::failure(source.error());
    return Step{&entry, source.value(), QString(), DeltaPlan::Kind::Whole};
}

Result<DeltaRebuild::Step> DeltaRebuild::patchStep(const ReleaseManifest::Entry& entry,
                                                   const DeltaPlan::Change& change) const
{
    using R = Result<Step>;
    const Result<QString> patch = fileBelow(m_deltaFolder, DeltaPlan::contentPath(change));
    if (!patch)
        return R::failure(patch.error());
    const QString fault = FilePatch::headerFault(change.kind, patch.value(), entry.size);
    if (!fault.isEmpty())
        return R::failure(fault);
    // The installed file was checked before the delta was fetched; one changed since gives
    // another file, which its SHA-256 refuses.
    const Result<QString> reference = fileOfSize(m_installedFolder, change.path, change.oldSize);
    if (!reference)
        return R::failure(reference.error());
    return Step{&entry, patch.value(), reference.value(), change.kind};
}

Outcome DeltaRebuild::write(const Step& step, const QString& outputFolder) const
{
    const ReleaseManifest::Entry& entry = *step.entry;
    const QString target = outputFolder + QLatin1Char('/') + entry.path;
    const Outcome written = step.reference.isEmpty()
                                ? VerifiedFile::copy(step.source, target, entry.size, entry.sha256)
                                : FilePatch::apply(step.kind, step.reference, step.source, target,
                                                   entry.size, entry.sha256);
#ifdef Q_OS_UNIX
    if (written && !QFile::setPermissions(target, ReleaseManifest::permissionsOf(entry.mode)))
        return Outcome::failure(QStringLiteral("its mode cannot be set"));
#endif
    return written;
}
