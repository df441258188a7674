#include "releasesignature.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QTest>

#include <functional>

using ReleaseSignature::KeyPair;

// Changes a signed answer the way a forger on the network would.
using Tamper = std::function<void(QJsonObject& biz)>;
Q_DECLARE_METATYPE(Tamper)

namespace {

constexpr qint64 kSequence = 7;
const QStringList kTextFields{
    "id",  "update", "latestVersion", "latestVersionUrl", "latestVersionInfo",
    "md5", "sha256", "keyId"};
const QStringList kNumberFields{"packageSize", "updateType", "sequence"};

QString base64(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

// One character other than the last one of text, staying a hexadecimal digit where it was one.
QString changedByOneCharacter(QString text)
{
    text.back() = text.back() == QLatin1Char('a') ? QLatin1Char('b') : QLatin1Char('a');
    return text;
}

Tamper setField(const QString& name, const QJsonValue& value)
{
    return [=](QJsonObject& biz) { biz.insert(name, value); };
}

Tamper changeField(const QString& name)
{
    return [=](QJsonObject& biz) {
        const QJsonValue old = biz.value(name);
        biz.insert(name, old.isString() ? QJsonValue(changedByOneCharacter(old.toString()))
                                        : QJsonValue(old.toDouble() + 1));
    };
}

Tamper editSignature(const std::function<QString(QString)>& edit)
{
    return
        [=](QJsonObject& biz) { biz.insert("signature", edit(biz.value("signature").toString())); };
}

const Tamper kUntouched = [](QJsonObject&) {};
const Tamper kUnsigned = [](QJsonObject& biz) { biz.remove("signature"); };

} // namespace

// The verdict on a check answer's release fields, with the updater's keys as it has them.
class TestReleaseSignature : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verdict_data();
    void verdict();

private:
    QJsonObject signedBiz(const KeyPair& signer) const;

    KeyPair m_current;
    KeyPair m_next;
    KeyPair m_stranger;
};

void TestReleaseSignature::initTestCase()
{
    m_current = ReleaseSignature::generateKeyPair();
    m_next = ReleaseSignature::generateKeyPair();
    m_stranger = ReleaseSignature::generateKeyPair();
    QVERIFY(ReleaseSignature::isSecretKey(m_current.secretKey));
    QVERIFY(m_current.publicKey != m_next.publicKey);
}

QJsonObject TestReleaseSignature::signedBiz(const KeyPair& signer) const
{
    const QByteArray package("the package");
    QJsonObject biz{
        {"id", "QuorvexClient_2.1.0.zip"},
        {"update", "1"},
        {"latestVersion", "2.1.0"},
        {"latestVersionUrl", "QuorvexClient_2.1.0.zip"},
        {"latestVersionInfo", "中文说明&English notes"},
        {"md5",
         QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex())},
        {"sha1", ""},
        {"sha256", QString::fromLatin1(
                       QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex())},
        {"packageSize", package.size()},
        {"updateType", 1},
        {"sequence", kSequence},
    };
    QString problem;
    if (!ReleaseSignature::sign(biz, signer.secretKey, &problem))
        qFatal("cannot sign: %s", qPrintable(problem));
    return biz;
}

void TestReleaseSignature::verdict_data()
{
    QTest::addColumn<QJsonValue>("setting");
    QTest::addColumn<int>("signer"); // 0 current key, 1 next key, 2 a key not configured
    QTest::addColumn<Tamper>("tamper");
    QTest::addColumn<qint64>("installedSequence");
    QTest::addColumn<QString>("refusal"); // empty when accepted

    const QJsonValue one(base64(m_current.publicKey));
    const QJsonArray both{base64(m_current.publicKey), base64(m_next.publicKey)};

    QTest::newRow("signed, one key as text") << one << 0 << kUntouched << qint64(0) << QString();
    QTest::newRow("signed by the second listed key")
        << QJsonValue(both) << 1 << kUntouched << qint64(0) << QString();
    QTest::newRow("same sequence as installed")
        << QJsonValue(both) << 0 << kUntouched << kSequence << QString();
    for (const QString& field : kTextFields + kNumberFields) {
        const QString refusal = field == "keyId" ? "which is not configured" : "does not verify";
        QTest::addRow("%s changed", qPrintable(field))
            << QJsonValue(both) << 0 << changeField(field) << qint64(0) << refusal;
    }
    QTest::newRow("key not configured")
        << QJsonValue(both) << 2 << kUntouched << qint64(0) << "which is not configured";
    QTest::newRow("truncated signature")
        << QJsonValue(both) << 0 << editSignature([](QString s) { return s.left(80); }) << qint64(0)
        << "malformed: \"signature\"";
    QTest::newRow("signature not base64")
        << QJsonValue(both) << 0 << editSignature([](QString s) { return s.replace(3, 1, '*'); })
        << qint64(0) << "malformed: \"signature\"";
    QTest::newRow("signature missing")
        << QJsonValue(both) << 0 << kUnsigned << qint64(0) << "not signed";
    QTest::newRow("lower sequence than installed")
        << QJsonValue(both) << 0 << kUntouched << kSequence + 1 << "sequence 7 is lower than 8";
    QTest::newRow("sha256 in upper case")
        << QJsonValue(both) << 0
        << setField("sha256", signedBiz(m_current).value("sha256").toString().toUpper())
        << qint64(0) << "malformed: \"sha256\"";
    QTest::newRow("size as text") << QJsonValue(both) << 0 << setField("packageSize", "11")
                                  << qint64(0)
                                  << "malformed: \"packageSize\" is missing or not a whole number";
    QTest::newRow("three keys configured")
        << QJsonValue(both + base64(m_stranger.publicKey)) << 0 << kUntouched << qint64(0)
        << "no usable public key configured: \"publicKey\" lists 3 keys";
    QTest::newRow("configured key not base64")
        << QJsonValue("not a key") << 0 << kUntouched << qint64(0) << "no usable public key";
    QTest::newRow("nothing offered needs no signature")
        << QJsonValue(both) << 2 << Tamper([](QJsonObject& biz) {
               biz.remove("signature");
               biz.insert("update", "0");
           })
        << qint64(9) << QString();
    QTest::newRow("no key configured, unsigned")
        << QJsonValue(QJsonValue::Undefined) << 0 << kUnsigned << qint64(9) << QString();
}

void TestReleaseSignature::verdict()
{
    QFETCH(QJsonValue, setting);
    QFETCH(int, signer);
    QFETCH(Tamper, tamper);
    QFETCH(qint64, installedSequence);
    QFETCH(QString, refusal);
    QJsonObject biz = signedBiz(QVector<KeyPair>{m_current, m_next, m_stranger}.at(signer));
    tamper(biz);

    const ReleaseSignature::Verdict verdict =
        ReleaseSignature::verify(biz, ReleaseSignature::trustedKeys(setting), installedSequence);

    QVERIFY2(verdict.accepted == refusal.isEmpty(), qPrintable(verdict.reason));
    QVERIFY2(verdict.reason.contains(refusal), qPrintable(verdict.reason));
    const bool verified = verdict.accepted && biz.contains("signature") &&
                          biz.value("update").toString() != "0" && !setting.isUndefined();
    QCOMPARE(verdict.sequence, verified ? kSequence : 0);
}

QTEST_GUILESS_MAIN(TestReleaseSignature)
#include "tst_releasesignature.moc"
