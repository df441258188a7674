#pragma once

#include "base/result.h"
#include "release/releaseoffer.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVector>

// Signed releases: the exact bytes an Ed25519 signature of a release covers, the keys an updater
// trusts, and the verdict on the release a check answer offers. The updater verifies with it and
// the update service signs with it, so both always agree on the signed format.
//
// The signed bytes are the prefix "AutoUpdate signed release v1\n" followed, for each covered
// field in the order of the answer's field table (answerfields.h), by "<name>=<byte count of the
// value>:<value>\n". Text values are taken as UTF-8, whole numbers in decimal. The byte counts keep
// values that contain "=", ":" or line breaks from running into the next field.
namespace ReleaseSignature {

struct PublicKey
{
    QByteArray key; // the raw 32-byte Ed25519 public key
    QString keyId;
};

// The updater's "publicKey" setting: one base64 key, or a list of at most two (the current key
// and the next one, while keys are rotated).
struct TrustedKeys
{
    // The setting is present, so every offered update must carry a valid signature. A setting
    // that cannot be used leaves keys empty: every offered update is then refused.
    bool required = false;
    QVector<PublicKey> keys;
    QString problem; // why a present setting cannot be used
};

struct KeyPair
{
    QByteArray publicKey; // 32 bytes
    QByteArray secretKey; // 64 bytes, libsodium's form: the private part followed by the public key
};

// The setting as read from the installed configuration; an undefined value means "not set".
TrustedKeys trustedKeys(const QJsonValue& setting);
// The short name a signed answer gives its key: the first 8 bytes of the public key's SHA-256,
// in lower-case hexadecimal.
QString keyId(const QByteArray& publicKey);
// The bytes a signature covers; the reason when the offer lacks a covered field or the answer
// held one with the wrong type.
Result<QByteArray> signedMessage(const ReleaseOffer& offer);
// Whether the updater may act on the offer. An answer offering nothing ("update" "0") and any
// answer while no key is required are accepted unsigned. An offered update must be signed by a
// trusted key, carry a 64-digit lower-case "sha256", and have a "sequence" not lower than the
// one of the last release installed.
// Accepted, the sequence of a verified signed release (0 when nothing was verified); refused, why.
Result<qint64> verify(const ReleaseOffer& offer, const TrustedKeys& keys, qint64 installedSequence);

KeyPair generateKeyPair();
// A 64-byte secret key whose public half belongs to its private part.
bool isSecretKey(const QByteArray& secretKey);
QByteArray publicKeyOf(const QByteArray& secretKey);
// Names the key in the offer ("keyId") and adds the base64 "signature" over its covered fields,
// which must all be present ("sha256" and "sequence" included).
Outcome sign(ReleaseOffer& offer, const QByteArray& secretKey);

// Base64 in its standard alphabet with padding, nothing else allowed; empty when text is not.
QByteArray fromBase64(const QByteArray& text);

} // namespace ReleaseSignature
