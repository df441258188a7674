#include "releasesignature.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <functional>

using ReleaseSignature::KeyPair;

// Changes a signed answer the way a forger on the network would.
using Tamper = std::function<void(QJsonObject& biz)>;
Q_DECLARE_METATYPE(Tamper)

namespace {

constexpr qint64 kSequence = 7;

// One character other than the last one of a text (a hexadecimal digit stays one), or a number
// one higher.
Tamper changeField(const QString& name)
{
    return [=](QJsonObject& biz) {
        const QJsonValue old = biz.value(name);
        QString text = old.toString();
        text.back() = text.back() == QLatin1Char('a') ? QLatin1Char('b') : QLatin1Char('a');
        biz.insert(name, old.isString() ? QJsonValue(text) : QJsonValue(old.toDouble() + 1));
    };
}

const Tamper kUntouched = [](QJsonObject&) {};
const Tamper kUnsigned = [](QJsonObject& biz) { biz.remove("signature"); };

} // namespace

// The verdict on a check answer's release fields, with the updater's keys as it has them.
class TestReleaseSignature : public QObject
{
    Q_OBJECT

    // The current key, the next one and a key not configured.
    const QVector<KeyPair> m_keys{ReleaseSignature::generateKeyPair(),
                                  ReleaseSignature::generateKeyPair(),
                                  ReleaseSignature::generateKeyPair()};

private slots:
    void verdict_data()
    {
        QTest::addColumn<QJsonValue>("setting");
        QTest::addColumn<int>("signer"); // index into m_keys
        QTest::addColumn<Tamper>("tamper");
        QTest::addColumn<qint64>("installedSequence");
        QTest::addColumn<QString>("refusal"); // empty when accepted

        const QJsonValue one(QString(m_keys[0].publicKey.toBase64()));
        const QJsonValue both(QJsonArray{one, QString(m_keys[1].publicKey.toBase64())});
        QTest::newRow("one key as text") << one << 0 << kUntouched << qint64(0) << "";
        QTest::newRow("second listed key") << both << 1 << kUntouched << qint64(0) << "";
        QTest::newRow("same sequence as installed") << both << 0 << kUntouched << kSequence << "";
        for (const char* field :
             {"id", "update", "latestVersion", "latestVersionUrl", "latestVersionInfo", "md5",
              "sha256", "keyId", "packageSize", "updateType", "sequence"}) {
            QTest::addRow("%s changed", field)
                << both << 0 << changeField(field) << qint64(0)
                << (field == QLatin1String("keyId") ? "which is not configured"
                                                    : "does not verify");
        }
        QTest::newRow("key not configured")
            << both << 2 << kUntouched << qint64(0) << "which is not configured";
        QTest::newRow("truncated signature") << both << 0 << Tamper([](QJsonObject& biz) {
            biz.insert("signature", biz.value("signature").toString().left(80));
        }) << qint64(0) << "malformed: \"signature\"";
        QTest::newRow("signature missing") << both << 0 << kUnsigned << qint64(0) << "not signed";
        QTest::newRow("lower sequence than installed")
            << both << 0 << kUntouched << kSequence + 1 << "sequence 7 is lower than 8";
        QTest::newRow("configured key not base64")
            << QJsonValue("not a key") << 0 << kUntouched << qint64(0) << "no usable public key";
        QTest::newRow("nothing offered needs no signature")
            << both << 2 << Tamper([](QJsonObject& biz) {
                   biz.remove("signature");
                   biz.insert("update", "0");
               })
            << qint64(9) << "";
        QTest::newRow("no key configured, unsigned")
            << QJsonValue(QJsonValue::Undefined) << 0 << kUnsigned << qint64(9) << "";
    }

    void verdict()
    {
        QFETCH(QJsonValue, setting);
        QFETCH(int, signer);
        QFETCH(Tamper, tamper);
        QFETCH(qint64, installedSequence);
        QFETCH(QString, refusal);
        QJsonObject biz = QJsonDocument::fromJson(R"({"id": "77", "update": "1",
            "latestVersion": "2.1.0", "latestVersionUrl": "a.zip", "latestVersionInfo": "中文&En",
            "md5": "0123456789abcdef0123456789abcdef", "packageSize": 11, "updateType": 1,
            "sha256": "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
            "sequence": 7})")
                              .object();
        QVERIFY(ReleaseSignature::sign(biz, m_keys[signer].secretKey, nullptr));
        tamper(biz);

        const ReleaseSignature::Verdict verdict = ReleaseSignature::verify(
            biz, ReleaseSignature::trustedKeys(setting), installedSequence);

        QVERIFY2(verdict.accepted == refusal.isEmpty(), qPrintable(verdict.reason));
        QVERIFY2(verdict.reason.contains(refusal), qPrintable(verdict.reason));
        const bool verified = verdict.accepted && biz.contains("signature") &&
                              biz.value("update").toString() != "0" && !setting.isUndefined();
        QCOMPARE(verdict.sequence, verified ? kSequence : 0);
    }
};

QTEST_GUILESS_MAIN(TestReleaseSignature)
#include "tst_releasesignature.moc"
