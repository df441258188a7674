#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// How an offered package is installed, from the answer's "updateType".
enum class PackageKind { Installer, Zip, Unknown };

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
    qint64 packageSize = 0; // "packageSize"
    qint64 updateType = 0;  // "updateType"; see packageKind()
    qint64 sequence = 0;    // "sequence" of a signed release; 0 when it names none
    QString keyId;          // "keyId" of the key that signed it
    QString signature;      // "signature", base64
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
};

Q_DECLARE_METATYPE(ReleaseOffer)
