#include "release/releasesignature.h"

#include "release/answerfields.h"

#include <QCryptographicHash>
#include <QJsonArray>

#include <sodium.h>

#include <algorithm>
#include <optional>

namespace ReleaseSignature {

namespace {

const QByteArray kMessagePrefix = QByteArrayLiteral("AutoUpdate signed release v1\n");
constexpr int kMaxTrustedKeys = 2;
constexpr int kKeyIdBytes = 8;
constexpr int kSha256HexDigits = 64;

// sodium_init() is safe to call from several threads and more than once.
bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

const unsigned char* bytesOf(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

unsigned char* bytesOf(QByteArray& data)
{
    return reinterpret_cast<unsigned char*>(data.data());
}

bool isLowerHexSha256(const QString& text)
{
    return text.size() == kSha256HexDigits && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
           });
}

const PublicKey* findKey(const TrustedKeys& trusted, const QString& id)
{
    const auto found = std::find_if(trusted.keys.begin(), trusted.keys.end(),
                                    [&](const PublicKey& key) { return key.keyId == id; });
    return found == trusted.keys.end() ? nullptr : &*found;
}

Result<qint64> accepted(qint64 sequence)
{
    return sequence;
}

Result<qint64> refused(const QString& reason)
{
    return Result<qint64>::failure(reason);
}

// Checks what must hold before the signature itself is worth checking.
QString malformation(const ReleaseOffer& offer, QByteArray* message, QByteArray* signature)
{
    const Result<QByteArray> covered = signedMessage(offer);
    if (!covered)
        return covered.error();
    *message = covered.value();
    if (!isLowerHexSha256(offer.sha256))
        return QStringLiteral("\"sha256\" is not 64 lower-case hexadecimal digits");
    *signature = fromBase64(offer.signature.toLatin1());
    if (signature->size() != crypto_sign_BYTES)
        return QStringLiteral("\"signature\" is not the base64 of 64 bytes");
    return QString();
}

} // namespace

TrustedKeys trustedKeys(const QJsonValue& setting)
{
    TrustedKeys trusted;
    if (setting.isUndefined())
        return trusted;
    trusted.required = true;
    const QJsonArray list = setting.isArray() ? setting.toArray() : QJsonArray{setting};
    if (list.isEmpty() || list.size() > kMaxTrustedKeys) {
        trusted.problem =
            QStringLiteral("\"publicKey\" lists %1 keys; it takes one or two").arg(list.size());
        return trusted;
    }
    QVector<PublicKey> keys;
    for (const QJsonValue& entry : list) {
        const QByteArray key = fromBase64(entry.toString().toLatin1());
        if (!entry.isString() || key.size() != crypto_sign_PUBLICKEYBYTES) {
            trusted.problem =
                QStringLiteral("\"publicKey\" holds an entry that is not the base64 of a "
                               "32-byte Ed25519 public key");
            return trusted;
        }
        keys.append(PublicKey{key, keyId(key)});
    }
    trusted.keys = keys;
    return trusted;
}

QString keyId(const QByteArray& publicKey)
{
    const QByteArray digest = QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.left(kKeyIdBytes).toHex());
}

Result<QByteArray> signedMessage(const ReleaseOffer& offer)
{
    QByteArray message = kMessagePrefix;
    for (const AnswerFields::Field* field = AnswerFields::begin(); field != AnswerFields::end();
         ++field) {
        if (!field->isSigned)
            continue;
        const std::optional<QByteArray> value = AnswerFields::signedValue(offer, *field);
        const bool malformed = offer.malformedFields.contains(QLatin1String(field->name));
        if (!value && field->isCoveredWhenPresent && !malformed)
            continue;
        if (!value) {
            const QString type = field->type == AnswerFields::Type::Text
                                     ? QStringLiteral("a text")
                                     : QStringLiteral("a whole number");
            return Result<QByteArray>::failure(QStringLiteral("\"%1\" is missing or not %2")
                                                   .arg(QLatin1String(field->name), type));
        }
        message += field->name + QByteArrayLiteral("=") + QByteArray::number(value->size()) + ':' +
                   *value + '\n';
    }
    return message;
}

Result<qint64> verify(const ReleaseOffer& offer, const TrustedKeys& keys, qint64 installedSequence)
{
    if (!keys.required || offer.offersNothing())
        return accepted(0);
    if (keys.keys.isEmpty())
        return refused(QStringLiteral("no usable public key configured: ") + keys.problem);
    if (!sodiumReady())
        return refused(QStringLiteral("the signature library cannot start"));
    if (offer.signature.isEmpty() && !offer.malformedFields.contains(QStringLiteral("signature")))
        return refused(QStringLiteral("the offered update is not signed"));
    QByteArray message;
    QByteArray signature;
    const QString malformed = malformation(offer, &message, &signature);
    if (!malformed.isEmpty())
        return refused(QStringLiteral("malformed: ") + malformed);
    const PublicKey* key = findKey(keys, offer.keyId);
    if (key == nullptr)
        return refused(
            QStringLiteral("made with key \"%1\", which is not configured").arg(offer.keyId));
    if (crypto_sign_verify_detached(bytesOf(signature), bytesOf(message),
                                    static_cast<unsigned long long>(message.size()),
                                    bytesOf(key->key)) != 0)
        return refused(QStringLiteral("does not verify"));
    if (offer.sequence < installedSequence)
        return refused(QStringLiteral("sequence %1 is lower than %2, the one of the last release "
                                      "installed")
                           .arg(offer.sequence)
                           .arg(installedSequence));
    return accepted(offer.sequence);
}

KeyPair generateKeyPair()
{
    KeyPair pair;
    if (!sodiumReady())
        return pair;
    pair.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    pair.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(bytesOf(pair.publicKey), bytesOf(pair.secretKey));
    return pair;
}

bool isSecretKey(const QByteArray& secretKey)
{
    if (!sodiumReady() || secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return false;
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    QByteArray rebuilt(crypto_sign_SECRETKEYBYTES, Qt::Uninitialized);
    crypto_sign_seed_keypair(bytesOf(publicKey), bytesOf(rebuilt), bytesOf(secretKey));
    const bool same = sodium_memcmp(bytesOf(rebuilt), bytesOf(secretKey), rebuilt.size()) == 0;
    sodium_memzero(bytesOf(rebuilt), rebuilt.size());
    return same;
}

QByteArray publicKeyOf(const QByteArray& secretKey)
{
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    crypto_sign_ed25519_sk_to_pk(bytesOf(publicKey), bytesOf(secretKey));
    return publicKey;
}

Outcome sign(ReleaseOffer& offer, const QByteArray& secretKey)
{
    if (!isSecretKey(secretKey))
        return Outcome::failure(QStringLiteral("not an Ed25519 secret key"));
    ReleaseOffer signedOffer = offer;
    signedOffer.keyId = keyId(publicKeyOf(secretKey));
    const Result<QByteArray> message = signedMessage(signedOffer);
    if (!message)
        return Outcome::failure(message.error());
    QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(bytesOf(signature), nullptr, bytesOf(message.value()),
                         static_cast<unsigned long long>(message.value().size()),
                         bytesOf(secretKey));
    signedOffer.signature = QString::fromLatin1(signature.toBase64());
    offer = signedOffer;
    return Outcome::success();
}

QByteArray fromBase64(const QByteArray& text)
{
    if (!sodiumReady() || text.isEmpty())
        return QByteArray();
    QByteArray bytes(text.size() / 4 * 3 + 3, Qt::Uninitialized);
    size_t length = 0;
    if (sodium_base642bin(bytesOf(bytes), static_cast<size_t>(bytes.size()), text.constData(),
                          static_cast<size_t>(text.size()), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return QByteArray();
    bytes.truncate(static_cast<int>(length));
    return bytes;
}

} // namespace ReleaseSignature
