#include "base/userpaths.h"
#include "check/updatecheck.h"
#include "checkanswer.h"
#include "clientfiles.h"
#include "fakeplatform.h"
#include "global.h"
#include "release/answerfields.h"
#include "release/releasesignature.h"
#include "testhome.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

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
        if (!old.isString()) {
            biz.insert(name, old.toDouble() + 1);
            return;
        }
        QString text = old.toString();
        text.back() = text.back() == QLatin1Char('a') ? QLatin1Char('b') : QLatin1Char('a');
        biz.insert(name, text);
    };
}

const Tamper kUntouched = [](QJsonObject&) {};
const Tamper kUnsigned = [](QJsonObject& biz) { biz.remove("signature"); };

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson();
}

QByteArray answer(const char* version, const char* update)
{
    CheckAnswer answer;
    answer.offer.version = version;
    answer.offer.updateMode = update;
    return answer.toJson();
}
} // namespace

// What the updater makes of a check: the user's choices it records and reads back in a profile of
// the test's own (a client installed in a folder of its own), whether the service's answer has
// the user asked, and whether the release fields are trusted, with the updater's keys as it has
// them.
class TestUpdateCheck : public QObject
{
    Q_OBJECT

    TestHome m_home;
    QTemporaryDir m_dir;
    FakePlatform m_platform;

    // The current key, the next one and a key not configured.
    const QVector<ReleaseSignature::KeyPair> m_keys{ReleaseSignature::generateKeyPair(),
                                                    ReleaseSignature::generateKeyPair(),
                                                    ReleaseSignature::generateKeyPair()};

private slots:
    // A state file that cannot be read is taken for none. The choices are recorded beside what
    // the file holds, and the file is replaced whole or not at all.
    void stateFiles_data()
    {
        // "read": GetConfig; "client": WriteConfigToClientFile; else WriteConfigToFile(action).
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("existing"); // null: no such file
        QTest::addColumn<bool>("fullDisk");       // every write into the updater's folder fails
        QTest::addColumn<int>("result");
        // read: "<currentVersion> <noRemind> <noRemindVersion>"; else the file afterwards.
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* action, const QByteArray& existing,
                            int result, const QByteArray& expected, bool fullDisk = false) {
            QTest::newRow(name) << QString(action) << existing << fullDisk << result << expected;
        };
        const QByteArray old = json({{"noRemind", 0}, {"extra", "x"}});
        row("read", "read", R"({"noRemind":1,"noRemindVersion":"2.1.0"})", 0, "2.0.3 1 2.1.0");
        row("read missing", "read", QByteArray(), 0, "2.0.3 0 ");
        row("read not JSON", "read", "noRemind=1", 0, "2.0.3 0 ");
        row("version keeps other keys", "version", old, 0,
            json({{"noRemind", 0}, {"extra", "x"}, {"currentVersion", "2.1.0"}}));
        row("not JSON loses the rest", "version", "{broken", 0,
            json({{"currentVersion", "2.1.0"}}));
        row("client file keeps other keys", "client",
            R"({"client":{"version":"2.0.3","lang":"en"},"ui":1})", 0,
            json({{"client", QJsonObject{{"version", "2.1.0"}, {"lang", "en"}}}, {"ui", 1}}));
        // The disk holds the old file and nothing more: the last row, as it stays mounted.
        row("full disk keeps the old file", "remid", old, -1, old, true);
    }

    void stateFiles()
    {
        QFETCH(QString, action);
        QFETCH(QByteArray, existing);
        QFETCH(bool, fullDisk);
        const QString updaterDir = UserPaths::updaterDir();
        const QString path =
            action == "client" ? m_dir.filePath("client.json") : updaterDir + "/updateconfig.json";
        QDir(updaterDir).removeRecursively();
        QDir::setCurrent(m_dir.path());
        ClientFiles::write("updateconfig.json", json({{"appConfigFile", "client.json"},
                                                      {"appPath", m_dir.path() + "/"}}));
        ClientFiles::write("client.json", ClientFiles::config("2.0.3"));
        if (fullDisk && !m_home.mountSmallDisk(updaterDir, 64))
            QSKIP("a full disk needs a tmpfs mounted, which takes root");
        QDir().mkpath(updaterDir);
        if (!existing.isNull())
            ClientFiles::write(path, existing);
        if (fullDisk) // every write into it fails from here on
            ClientFiles::write(updaterDir + "/filler", QByteArray(64 * 1024, 'x'));
        Global global;
        global.m_appPath = m_dir.path() + "/";
        global.m_appConfigFile = "client.json";

        QTEST(action == "read"     ? global.GetConfig()
              : action == "client" ? global.WriteConfigToClientFile("2.1.0")
                                   : global.WriteConfigToFile(action, "2.1.0"),
              "result");
        const QString read = QString("%1 %2 %3")
                                 .arg(global.m_currentVersion)
                                 .arg(global.m_remide)
                                 .arg(global.m_noRemindVersion);
        QTEST(action == "read" ? read.toUtf8() : ClientFiles::read(path), "expected");
    }

    // The mode the user is asked in ("1" normal, anything else forced), or nothing when the
    // client is started at once; an answer in error is logged.
    void decision_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("neverRemindFor");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("logged");
        const auto row = [](const char* name, const QByteArray& body, const char* neverRemindFor,
                            const char* arguments, const char* offered, const char* log = "") {
            QTest::newRow(name) << body << QString(neverRemindFor) << QString(arguments)
                                << QString(offered) << QString(log);
        };
        row("offered", answer("2.1.0", "1"), "", "", "1");
        row("forced", answer("2.1.0", "2"), "", "", "2");
        row("installed version", answer("2.0.3", "1"), "", "", "");
        row("update 0", answer("2.1.0", "0"), "", "", "");
        row("never remind", answer("2.1.0", "1"), "2.1.0", "", "");
        row("never remind, another version", answer("2.1.0", "1"), "2.0.9", "", "1");
        row("never remind, -noremid", answer("2.1.0", "1"), "2.1.0", "-noremid", "1");
        row("never remind, -immediately", answer("2.1.0", "2"), "2.1.0", "-immediately", "2");
        row("code error", answer("2.1.0", "1").replace("000000", "100001"), "", "", "",
            "Services Jsondata Code Error: \"100001\"");
        row("not JSON", "<html>502</html>", "", "", "", "Recv Services Jsondata Error: 5");
    }

    void decision()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, neverRemindFor);
        QFETCH(QString, arguments);
        QFETCH(QString, logged);
        const UpdateCheck::Reminders reminders{!neverRemindFor.isEmpty(), neverRemindFor,
                                               arguments.split(' ', Qt::SkipEmptyParts)};
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtDebugMsg,
                                 QRegularExpression(QRegularExpression::escape(logged) + '$'));

        const Result<ReleaseOffer> offer = UpdateCheck::offerIn(body, {"2.0.3", {}});
        const bool asked = offer && UpdateCheck::isWanted(offer.value(), reminders);

        QTEST(asked ? offer->updateMode : QString(), "offered");
    }

    // The answer's deltas: entries that break a rule are left out, the others are read whole, at
    // most 16, and the one from the installed version is picked.
    void deltas_data()
    {
        QTest::addColumn<QJsonValue>("deltas");
        QTest::addColumn<int>("read");
        QTest::addColumn<QString>("pickedUrl"); // the delta from 2.0.3, or empty
        const QJsonObject good{{"fromVersion", "2.0.3"},
                               {"url", "q_2.1.0_from_2.0.3.zip"},
                               {"size", 5000},
                               {"sha256", QString(64, 'a')},
                               {"planUrl", "q_2.1.0_from_2.0.3.plan.json"},
                               {"planSize", 300},
                               {"planSha256", QString(64, 'b')}};
        const auto with = [&](const char* key, const QJsonValue& value) {
            QJsonObject entry = good;
            entry.insert(key, value);
            return entry;
        };
        const auto row = [](const char* name, const QJsonValue& deltas, int read,
                            const char* picked = "") {
            QTest::newRow(name) << deltas << read << QString(picked);
        };
        row("none", QJsonValue::Undefined, 0);
        row("picks the installed one",
            QJsonArray{with("fromVersion", "2.0.1"), with("url", "mine.zip")}, 2, "mine.zip");
        // A path in a name would leave the download folder.
        row("bad entry beside a good one", QJsonArray{with("url", "../q.zip"), good}, 1,
            "q_2.1.0_from_2.0.3.zip");
        QJsonArray many;
        for (int i = 0; i < AnswerFields::kMaxDeltas + 4; ++i)
            many.append(with("fromVersion", QString("1.%1").arg(i)));
        row("more than the limit", many, AnswerFields::kMaxDeltas);
    }

    void deltas()
    {
        QFETCH(QJsonValue, deltas);
        QFETCH(int, read);
        QFETCH(QString, pickedUrl);
        QJsonObject biz = AnswerFields::toBiz(CheckAnswer().offer);
        if (!deltas.isUndefined())
            biz.insert("deltas", deltas);

        const ReleaseOffer offer = AnswerFields::fromBiz(biz);

        QCOMPARE(offer.deltas.size(), read);
        QVERIFY(offer.malformedFields.isEmpty());
        const DeltaOffer* picked = offer.deltaFrom("2.0.3");
        QCOMPARE(picked ? picked->url : QString(), pickedUrl);
        // What the service writes is what the updater reads.
        QCOMPARE(AnswerFields::fromBiz(AnswerFields::toBiz(offer)).deltas, offer.deltas);
    }

    void verdict_data()
    {
        QTest::addColumn<QString>("refusal"); // empty when accepted
        QTest::addColumn<Tamper>("tamper");
        QTest::addColumn<int>("signer"); // index into m_keys
        QTest::addColumn<qint64>("installedSequence");
        QTest::addColumn<QJsonValue>("setting");
        QTest::addColumn<qint64>("sequence"); // of a verified release, else 0
        const QJsonValue one(QString(m_keys[0].publicKey.toBase64()));
        const QJsonValue both(QJsonArray{one, QString(m_keys[1].publicKey.toBase64())});
        const auto row = [&](const char* name, const char* refusal, const Tamper& tamper,
                             int signer = 0, qint64 installed = 0, const QJsonValue& setting = {},
                             qint64 sequence = 0) {
            QTest::newRow(name) << QString(refusal) << tamper << signer << installed
                                << (setting.isNull() ? both : setting) << sequence;
        };
        row("one key as text", "", kUntouched, 0, 0, one, kSequence);
        row("second listed key", "", kUntouched, 1, 0, {}, kSequence);
        row("same sequence as installed", "", kUntouched, 0, kSequence, {}, kSequence);
        // Every field the signature covers, as the answer's own table names them.
        for (auto field = AnswerFields::begin(); field != AnswerFields::end(); ++field) {
            if (!field->isSigned)
                continue;
            const QString name = QLatin1String(field->name);
            row(qPrintable(name + " changed"),
                name == "keyId" ? "which is not configured" : "does not verify", changeField(name));
        }
        // Covered where the release was signed with it: an answer cannot drop it either.
        const Tamper noManifest = [](QJsonObject& biz) { biz.remove("manifestSha256"); };
        row("manifestSha256 left out", "does not verify", noManifest);
        const Tamper manifestNotText = [](QJsonObject& biz) { biz.insert("manifestSha256", 1); };
        row("manifestSha256 not a text", "\"manifestSha256\" is missing", manifestNotText);
        row("key not configured", "which is not configured", kUntouched, 2);
        row("signature missing", "not signed", kUnsigned);
        row("lower sequence than installed", "sequence 7 is lower than 8", kUntouched, 0,
            kSequence + 1);
        row("configured key not base64", "no usable public key", kUntouched, 0, 0, "not a key");
        const Tamper offersNothing = [](QJsonObject& biz) {
            biz.remove("signature");
            biz.insert("update", "0");
        };
        row("nothing offered needs no signature", "", offersNothing, 2, 9);
        row("no key configured, unsigned", "", kUnsigned, 0, 9, QJsonValue::Undefined);
    }

    void verdict()
    {
        QFETCH(QJsonValue, setting);
        QFETCH(int, signer);
        QFETCH(Tamper, tamper);
        QFETCH(qint64, installedSequence);
        QFETCH(QString, refusal);
        ReleaseOffer offer = CheckAnswer().offer;
        offer.md5 = QString(32, 'a');
        offer.sha256 = QString(64, 'b');
        offer.manifestSha256 = QString(64, 'c');
        offer.sequence = kSequence;
        QVERIFY(ReleaseSignature::sign(offer, m_keys[signer].secretKey));
        QJsonObject biz = AnswerFields::toBiz(offer);
        tamper(biz);

        const Result<qint64> verdict = ReleaseSignature::verify(
            AnswerFields::fromBiz(biz), ReleaseSignature::trustedKeys(setting), installedSequence);

        QVERIFY2(verdict.ok() == refusal.isEmpty(), qPrintable(verdict.error()));
        QVERIFY2(verdict.error().contains(refusal), qPrintable(verdict.error()));
        QTEST(verdict ? verdict.value() : 0, "sequence");
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
