#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

// How an offered package is installed, from the answer's "updateType".
enum class PackageKind { Installer, Zip, Unknown };

// A delta package the answer offers beside the full package: it turns the tree of release
// fromVersion into the offered one. Its plan, a small file of its own, names the installed files
// its patches apply to, so they can be checked before the delta is fetched. Neither is covered by
// the release's signature: what the delta rebuilds must match the release's manifest, which is.
struct DeltaOffer
{
    QString fromVersion; // "fromVersion"
    QString url;         // "url": a file name, appended to the package address
    qint64 size = 0;     // "size"
    QString sha256;      // "sha256"
    QString planUrl;     // "planUrl": a file name, appended to the package address
    qint64 planSize = 0; // "planSize"
    QString planSha256;  // "planSha256"

    bool operator==(const DeltaOffer& other) const;
};

// The release a check answer offers, as one value: read once from the answer's "biz" object
// (answerfields.h), judged once by its signature, and then handed from stage to stage: the
// prompt, the download, the install. Each member is the answer field named beside it.
struct ReleaseOffer
{
    QString id;         // "id": appended to the package address
    QString updateMode; // "update": "0" nothing to install, "1" a prompt with "later", else forced
    QString version;    // "latestVersion"
    QString url;        // "latestVersionUrl": names the package file
    QString notes;      // "latestVersionInfo": "Chinese&English"
    QString md5;        // "md5", lower-case hexadecimal
    QString sha1;       // "sha1", announced but not checked
    QString sha256;     // "sha256"; empty when the release names none
    qint64 packageSize = 0;     // "packageSize"
    qint64 updateType = 0;      // "updateType"; see packageKind()
    qint64 sequence = 0;        // "sequence" of a signed release; 0 when it names none
    QString keyId;              // "keyId" of the key that signed it
    QString signature;          // "signature", base64
    QString manifestSha256;     // "manifestSha256": of the JSON listing every file of the release
    QVector<DeltaOffer> deltas; // "deltas"; entries that break a rule are left out
    // The answer's fields that were missing or of another type, in the table's order. An
    // unsigned answer is taken as it is; a signed one must have every covered field.
    QStringList malformedFields;

    bool offersNothing() const { return updateMode == QLatin1String("0"); }
    bool offersLater() const { return updateMode == QLatin1String("1"); }
    bool isForced() const { return !offersNothing() && !offersLater(); }
    PackageKind packageKind() const;
    // The "updateType" that names kind.
    static qint64 updateTypeOf(PackageKind kind);
    // The notes in the client's language: the part before "&" for "zh", the part after it for
    // any other; notes without "&" whole.
    QString notesIn(const QString& language) const;
    // The package's file name in the download folder, from the end of its address.
    QString packageFileName() const;
    // The delta from the installed version, or null.
    const DeltaOffer* deltaFrom(const QString& installedVersion) const;
};

Q_DECLARE_METATYPE(ReleaseOffer)
