#include "install/deltaplan.h"

#include "base/relativepath.h"
#include "release/fieldreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <functional>

namespace {

const QString kFromVersion = QStringLiteral("fromVersion");
const QString kToVersion = QStringLiteral("toVersion");
const QString kChanges = QStringLiteral("changes");
const QString kDropped = QStringLiteral("dropped");
const QString kPath = QStringLiteral("path");
const QString kKind = QStringLiteral("kind");
const QString kOldSize = QStringLiteral("oldSize");
const QString kOldSha256 = QStringLiteral("oldSha256");
// The kinds' names, in the order of DeltaPlan::Kind.
const QStringList kKinds = {QStringLiteral("patch"), QStringLiteral("diff"),
                            QStringLiteral("whole")};

Result<DeltaPlan::Change> readChange(FieldReader& reader)
{
    DeltaPlan::Change change;
    change.path = reader.path(kPath);
    const int kind = kKinds.indexOf(reader.text(kKind));
    if (reader.ok() && kind < 0)
        return Result<DeltaPlan::Change>::failure(
            QStringLiteral("\"%1\" is none of \"%2\"")
                .arg(kKind, kKinds.join(QStringLiteral("\", \""))));
    change.kind = static_cast<DeltaPlan::Kind>(kind);
    if (change.appliesToOldFile()) {
        change.oldSize = reader.size(kOldSize);
        change.oldSha256 = reader.sha256(kOldSha256);
    }
    if (!reader.ok())
        return Result<DeltaPlan::Change>::failure(reader.fault());
    return change;
}

// Reads each entry of the list under key with read, which hands back the entry's path; no two
// entries of the plan may name one file.
Outcome readList(const FieldReader::Document& plan, const QString& key, QSet<QString>& paths,
                 const std::function<Result<QString>(FieldReader&)>& read)
{
    return FieldReader::forEachEntry(plan, key, [&](FieldReader& reader) {
        const Result<QString> path = read(reader);
        if (!path)
            return Outcome::failure(path.error());
        const QString fileKey = RelativePath::fileKey(path.value());
        if (paths.contains(fileKey))
            return Outcome::failure(
                QStringLiteral("\"%1\" names the file of another").arg(path.value()));
        paths.insert(fileKey);
        return Outcome::success();
    });
}

} // namespace

bool DeltaPlan::Change::operator==(const Change& other) const
{
    return path == other.path && kind == other.kind && oldSize == other.oldSize &&
           oldSha256 == other.oldSha256;
}

DeltaPlan::DeltaPlan(QString fromVersion, QString toVersion, QVector<Change> changes,
                     QStringList dropped)
    : m_fromVersion(std::move(fromVersion)), m_toVersion(std::move(toVersion)),
      m_changes(std::move(changes)), m_dropped(std::move(dropped))
{}

Result<DeltaPlan> DeltaPlan::fromJson(const QByteArray& json)
{
    using R = Result<DeltaPlan>;
    const Result<FieldReader::Document> document =
        FieldReader::document(json, {kFromVersion, kToVersion, kChanges, kDropped});
    if (!document)
        return R::failure(QStringLiteral("the delta plan ") + document.error());
    FieldReader versions(document->values);
    const QString fromVersion = versions.text(kFromVersion);
    const QString toVersion = versions.text(kToVersion);
    if (!versions.ok())
        return R::failure(QStringLiteral("the delta plan's ") + versions.fault());

    DeltaPlan plan(fromVersion, toVersion, {}, {});
    QSet<QString> paths;
    Outcome read = readList(document.value(), kChanges, paths, [&](FieldReader& reader) {
        const Result<Change> change = readChange(reader);
        if (!change)
            return Result<QString>::failure(change.error());
        plan.m_changes.append(change.value());
        return Result<QString>(change->path);
    });
    if (read)
        read = readList(document.value(), kDropped, paths, [&](FieldReader& reader) {
            const QString path = reader.path(kPath);
            if (!reader.ok())
                return Result<QString>::failure(reader.fault());
            plan.m_dropped.append(path);
            return Result<QString>(path);
        });
    if (!read)
        return R::failure(QStringLiteral("the delta plan's ") + read.error());
    return plan;
}

QByteArray DeltaPlan::toJson() const
{
    QJsonArray changes;
    for (const Change& change : m_changes) {
        QJsonObject object{{kPath, change.path}, {kKind, kKinds.at(static_cast<int>(change.kind))}};
        if (change.appliesToOldFile()) {
            object.insert(kOldSize, change.oldSize);
            object.insert(kOldSha256, change.oldSha256);
        }
        changes.append(object);
    }
    QJsonArray dropped;
    for (const QString& path : m_dropped)
        dropped.append(QJsonObject{{kPath, path}});
    return QJsonDocument(QJsonObject{{kFromVersion, m_fromVersion},
                                     {kToVersion, m_toVersion},
                                     {kChanges, changes},
                                     {kDropped, dropped}})
        .toJson(QJsonDocument::Compact);
}

QString DeltaPlan::contentPath(const Change& change)
{
    const QString folder = change.kind == Kind::Patch  ? patchFolder()
                           : change.kind == Kind::Diff ? diffFolder()
                                                       : wholeFolder();
    return folder + QLatin1Char('/') + change.path;
}
