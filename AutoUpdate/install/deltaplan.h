#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// What a delta package holds besides its contents: the release it turns into which, and per file
// that changed, whether it comes as a patch or a diff of the installed file (see FilePatch), or
// whole. Read from the
// package as hostile input, like the manifest.
//
// The plan is published beside its package, whose digest it shares the answer's entry with. The
// package's top folder holds the new release's manifest as manifestFile(), and the content of
// each change below patchFolder() or wholeFolder() under the file's own path.
class DeltaPlan
{
public:
    enum class Kind { Patch, Diff, Whole };
    struct Change
    {
        // Cleaned, relative to the client's folder.
        QString path;
        Kind kind = Kind::Whole;
        // For a patch or a diff, the installed file it was made against.
        qint64 oldSize = 0;
        QString oldSha256;

        bool appliesToOldFile() const { return kind != Kind::Whole; }
        bool operator==(const Change& other) const;
    };

    static QString manifestFile() { return QStringLiteral("manifest.json"); }
    static QString patchFolder() { return QStringLiteral("patches"); }
    static QString diffFolder() { return QStringLiteral("diffs"); }
    static QString wholeFolder() { return QStringLiteral("files"); }

    DeltaPlan() = default;
    DeltaPlan(QString fromVersion, QString toVersion, QVector<Change> changes, QStringList dropped);

    // Refuses paths that would leave the folder, two entries naming one file, a kind it does not
    // know, and a patch or diff without the size and SHA-256 of its old file.
    static Result<DeltaPlan> fromJson(const QByteArray& json);
    QByteArray toJson() const;

    const QString& fromVersion() const { return m_fromVersion; }
    const QString& toVersion() const { return m_toVersion; }
    const QVector<Change>& changes() const { return m_changes; }
    // The files of the old release that the new one no longer has.
    const QStringList& dropped() const { return m_dropped; }

    // Where a change's content lies, relative to the package's top folder: below the folder of
    // its kind.
    static QString contentPath(const Change& change);

private:
    QString m_fromVersion;
    QString m_toVersion;
    QVector<Change> m_changes;
    QStringList m_dropped;
};
