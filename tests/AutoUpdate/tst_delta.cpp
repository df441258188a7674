#include "clientfiles.h"
#include "deltamaker.h"
#include "install/deltaplan.h"
#include "install/deltarebuild.h"
#include "install/diffstream.h"
#include "install/installedfiles.h"
#include "install/packageunpacker.h"
#include "release/releasemanifest.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <zstd.h>

namespace {

// Where a rebuild reads and writes: the client installed from the old release, the delta
// package unpacked, and a folder that lies outside both.
struct Folders
{
    QString installed;
    QString delta;
    QString outside;
};
using Tamper = std::function<void(const Folders&)>;
using FolderChange = std::function<void(const QString& folder)>;
using Reader = std::function<QString(const QByteArray&)>;

const QString kClient = QStringLiteral("bin/QuorvexClient");
const QString kTool = QStringLiteral("bin/tool");
const QString kConfig = QStringLiteral("config/client.json");
const QString kUnchanged = QStringLiteral("share/unchanged.txt");
const QString kNew = QStringLiteral("share/sub/new.dat");
const QString kDropped = QStringLiteral("share/dropped.txt");
const QString kEmpty = QStringLiteral("empty");
// Where the test keeps the plan, fetched beside the package, to tamper with it like the rest.
const QString kPlan = QStringLiteral("plan.json");
const QString kPatches = DeltaPlan::patchFolder() + '/';
const QString kDiffs = DeltaPlan::diffFolder() + '/';
const QString kWhole = DeltaPlan::wholeFolder() + '/';

using ClientFiles::read;

void write(const QString& path, const QByteArray& content, quint32 mode = 0644)
{
    ClientFiles::write(path, content);
    QFile::setPermissions(path, ReleaseManifest::permissionsOf(mode));
}

// A program as the next build of it comes out: a few bytes changed, a few inserted.
QByteArray rebuilt(QByteArray program)
{
    program.replace(1000, 4, "\x01\x02\x03\x04");
    return program.insert(program.size() / 2, QByteArray(256, 'n'));
}

void editJson(const QString& path, const std::function<void(QJsonObject&)>& edit)
{
    QJsonObject object = QJsonDocument::fromJson(read(path)).object();
    edit(object);
    ClientFiles::write(path, QJsonDocument(object).toJson());
}

// Sets one field of the entry for path in the list under key.
Tamper editEntry(const QString& file, const QString& key, const QString& path, const QString& field,
                 const QJsonValue& value)
{
    return [=](const Folders& folders) {
        editJson(folders.delta + '/' + file, [&](QJsonObject& object) {
            QJsonArray list = object.value(key).toArray();
            for (QJsonValueRef entry : list) {
                QJsonObject changed = entry.toObject();
                if (changed.value("path").toString() == path)
                    changed.insert(field, value);
                entry = changed;
            }
            object.insert(key, list);
        });
    };
}

// Puts a link at path below the installed client, to a copy of what was there outside it.
Tamper linkOutside(const QString& path)
{
    return [=](const Folders& folders) {
        const QString installed = folders.installed + '/' + path;
        const QString outside = folders.outside + '/' + QFileInfo(path).fileName();
        QVERIFY(QDir().rename(installed, outside));
        QVERIFY(QFile::link(outside, installed));
    };
}

Tamper writeFile(const QString& path, const QByteArray& content)
{
    return [=](const Folders& folders) { write(folders.delta + '/' + path, content); };
}

// Replaces the client program's diff with a stream made against the installed program's size.
Tamper writeDiff(const std::function<QByteArray(qint64 oldSize)>& stream)
{
    return [=](const Folders& folders) {
        const QByteArray bytes = stream(QFileInfo(folders.installed + '/' + kClient).size());
        QByteArray frame(static_cast<int>(ZSTD_compressBound(bytes.size())), Qt::Uninitialized);
        frame.resize(static_cast<int>(
            ZSTD_compress(frame.data(), frame.size(), bytes.constData(), bytes.size(), 1)));
        write(folders.delta + '/' + kDiffs + kClient, frame);
    };
}

QByteArray recordHead(qint64 addBytes, qint64 insertBytes, qint64 move)
{
    QByteArray head;
    DiffStream::appendRecordHead(head, addBytes, insertBytes, move);
    return head;
}

Outcome rebuildFrom(const Folders& folders, const QString& output)
{
    const Result<DeltaPlan> plan = DeltaPlan::fromJson(read(folders.delta + '/' + kPlan));
    const Result<ReleaseManifest> manifest =
        ReleaseManifest::fromJson(read(folders.delta + '/' + DeltaPlan::manifestFile()));
    if (!plan || !manifest)
        return Outcome::failure(plan ? manifest.error() : plan.error());
    return DeltaRebuild(plan.value(), manifest.value(), folders.delta, folders.installed)
        .rebuild(output);
}

QByteArray manifestOf(const QString& entries)
{
    return QStringLiteral(R"({"files": [%1]})").arg(entries).toUtf8();
}

QString fileEntry(const QString& path, const QString& size = "1", const QString& digest = "")
{
    return QStringLiteral(R"({"path": "%1", "size": %2, "sha256": "%3", "mode": 420})")
        .arg(path, size, digest.isEmpty() ? QString(64, 'a') : digest);
}

QByteArray planOf(const QString& changes, const QString& dropped = "")
{
    return QStringLiteral(R"({"fromVersion": "1", "toVersion": "2", "changes": [%1],
                             "dropped": [%2]})")
        .arg(changes, dropped)
        .toUtf8();
}

} // namespace

Q_DECLARE_METATYPE(Tamper)
Q_DECLARE_METATYPE(Reader)
Q_DECLARE_METATYPE(FolderChange)
Q_DECLARE_METATYPE(DeltaPlan::Kind)

// A delta made by the update service's maker from two trees of a client, unpacked as the updater
// unpacks packages, and rebuilt over a copy of the old tree, as it is or tampered with.
class TestDelta : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_deltaPackage;
    Result<updateservice::DeltaSummary> m_summary = updateservice::DeltaSummary();

    QString oldTree() const { return m_root.path() + "/old"; }
    QString newTree() const { return m_root.path() + "/new"; }

private slots:
    // Real programs: the stand-in client and the next build of it; two programs of one build.
    void initTestCase()
    {
        const QByteArray client = read(FAKECLIENT_BINARY);
        QVERIFY(client.size() > 100000);
        write(oldTree() + '/' + kClient, client, 0755);
        write(newTree() + '/' + kClient, rebuilt(client), 0755);
        write(oldTree() + '/' + kTool, read("/usr/bin/tac"), 0755);
        write(newTree() + '/' + kTool, read("/usr/bin/nl"), 0755);
        write(oldTree() + '/' + kConfig, ClientFiles::config("2.0.0"));
        write(newTree() + '/' + kConfig, ClientFiles::config("2.1.0"));
        write(oldTree() + '/' + kUnchanged, "same text", 0644);
        write(newTree() + '/' + kUnchanged, "same text", 0600);
        write(oldTree() + '/' + kEmpty, "");
        write(newTree() + '/' + kEmpty, "");
        write(oldTree() + '/' + kDropped, "only in the old release");
        write(newTree() + '/' + kNew, ClientFiles::randomBytes(70000, 7));

        m_deltaPackage = m_root.path() + "/QuorvexClient_2.0.0-2.1.0.zip";
        // As publish is given them: relative to the working folder.
        QDir::setCurrent(m_root.path());
        m_summary = updateservice::makeDelta({"old", "new", "2.0.0", "2.1.0", m_deltaPackage});
        QVERIFY2(m_summary.ok(), qPrintable(m_summary.error()));
    }

    // Diffs of programs, patches of text, whole files where nothing is smaller; only for files
    // that changed.
    void makerChooses_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<DeltaPlan::Kind>("kind");
        QTest::newRow("next build of a program") << kClient << DeltaPlan::Kind::Diff;
        QTest::newRow("another program of one build") << kTool << DeltaPlan::Kind::Diff;
        QTest::newRow("configuration") << kConfig << DeltaPlan::Kind::Patch;
        QTest::newRow("new file") << kNew << DeltaPlan::Kind::Whole;
    }

    void makerChooses()
    {
        QFETCH(QString, path);
        QFETCH(DeltaPlan::Kind, kind);
        QCOMPARE(m_summary->files.size(), 4);
        QCOMPARE(m_summary->unchanged, 2);
        QCOMPARE(m_summary->dropped, 1);
        const auto file =
            std::find_if(m_summary->files.cbegin(), m_summary->files.cend(),
                         [&](const updateservice::DeltaFile& f) { return f.path == path; });
        QVERIFY(file != m_summary->files.cend());
        QCOMPARE(file->kind, kind);
    }

    // The reason names the first rule a document breaks.
    void readersRefuse_data()
    {
        QTest::addColumn<Reader>("reader");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason"); // a regular expression
        const Reader manifest = [](auto json) { return ReleaseManifest::fromJson(json).error(); };
        const Reader plan = [](auto json) { return DeltaPlan::fromJson(json).error(); };
        const QString patch = R"({"path": "a", "kind": "patch", "oldSize": 1, "oldSha256": "%1"})";
        QTest::newRow("not JSON") << manifest << QByteArray("{") << "not JSON";
        QTest::newRow("larger than 16 MiB")
            << manifest << QByteArray(16 * 1024 * 1024 + 1, ' ') << "bytes long";

        QTest::newRow("unknown member")
            << manifest << QByteArray(R"({"files": [], "signed": true})") << "unknown member";
        QTest::newRow("member twice")
            << manifest << QByteArray(R"({"files": [], "files": []})") << "twice";
        QTest::newRow("text after the object")
            << manifest << QByteArray(R"({"files": []} {})") << "after its object";
        QTest::newRow("climbs out") << manifest << manifestOf(fileEntry("a/../../x")) << "climbs";
        QTest::newRow("one file twice once cleaned")
            << manifest << manifestOf(fileEntry("a/./b") + ',' + fileEntry("a//b")) << "another";
        QTest::newRow("file that is a folder too")
            << manifest << manifestOf(fileEntry("a") + ',' + fileEntry("a/b")) << "below the file";
        QTest::newRow("negative size") << manifest << manifestOf(fileEntry("a", "-1")) << "size";
        QTest::newRow("fractional size") << manifest << manifestOf(fileEntry("a", "1.5")) << "size";
        QTest::newRow("size past 2^53") << manifest << manifestOf(fileEntry("a", "1e17")) << "size";
        QTest::newRow("size as text") << manifest << manifestOf(fileEntry("a", "\"1\"")) << "size";
        QTest::newRow("upper-case digest")
            << manifest << manifestOf(fileEntry("a", "1", QString(64, 'A'))) << "sha256";
        QTest::newRow("set-user-id mode")
            << manifest << manifestOf(fileEntry("a").replace("420", "2541")) << "mode";
        QTest::newRow("no files list") << manifest << QByteArray("{}") << "\"files\" is not a list";
        QTest::newRow("unknown kind")
            << plan << planOf(R"({"path": "a", "kind": "exe"})") << "\"kind\" is none of";
        QTest::newRow("patch without its old digest")
            << plan << planOf(R"({"path": "a", "kind": "patch", "oldSize": 1})") << "oldSha256";
        QTest::newRow("patch and drop of one file")
            << plan << planOf(patch.arg(QString(64, 'a')), R"({"path": "./a"})") << "another";
        QStringList drops;
        for (int index = 0; index <= 100000; ++index)
            drops.append(QStringLiteral(R"({"path": "%1"})").arg(index));
        QTest::newRow("more than 100000 entries")
            << plan << planOf("", drops.join(',')) << "more than 100000 entries";
        QTest::newRow("drop outside") << plan << planOf("", R"({"path": "../a"})") << "climbs";
        QTest::newRow("no versions")
            << plan << QByteArray(R"({"changes": [], "dropped": []})") << "fromVersion";
    }

    void readersRefuse()
    {
        QFETCH(Reader, reader);
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        const QString fault = reader(json);
        QVERIFY2(fault.contains(QRegularExpression(reason)), qPrintable(fault));
    }

    // Whatever is refused leaves no output folder, and the client's folder and what lies
    // outside it as they were.
    void rebuild_data()
    {
        QTest::addColumn<Tamper>("tamper");
        QTest::addColumn<QString>("reason"); // a regular expression; empty for a rebuild
        const QByteArray hugeFrame = QByteArray::fromHex("28b52ffdc0580000000000010000010000");
        QTest::newRow("old tree into new") << Tamper([](const Folders&) {}) << "";
        QTest::newRow("installed file changed") << Tamper([](const Folders& folders) {
            QByteArray client = read(folders.installed + '/' + kClient);
            write(folders.installed + '/' + kClient, client.replace(5000, 1, "?"), 0755);
        }) << "another SHA-256";
        QTest::newRow("patch cut short") << Tamper([](const Folders& folders) {
            const QString path = folders.delta + '/' + kPatches + kConfig;
            write(path, read(path).chopped(3));
        }) << "ends inside its frame";
        QTest::newRow("second frame after the patch") << Tamper([](const Folders& folders) {
            const QString path = folders.delta + '/' + kDiffs + kClient;
            write(path, read(path).repeated(2));
        }) << "data after its frame";
        QTest::newRow("patch declares a huge output")
            << writeFile(kPatches + kConfig, hugeFrame) << "makes 1099511627776 bytes";
        QTest::newRow("diff adds past the old file")
            << writeDiff([](qint64 oldSize) { return recordHead(oldSize + 1, 0, 0); })
            << "adds to bytes past the old file's end";
        QTest::newRow("diff moves before the old file")
            << writeDiff([](qint64) { return recordHead(0, 0, -1); }) << "moves outside";
        QTest::newRow("diff inserts past the new file's size") << writeDiff([](qint64 oldSize) {
            return recordHead(0, 2 * oldSize, 0) + QByteArray(2 * oldSize, 'x');
        }) << "longer than";
        QTest::newRow("diff ends inside a record")
            << writeDiff([](qint64) { return recordHead(0, 4, 0) + "ab"; }) << "inside a record";
        QTest::newRow("diff number past 64 bits")
            << writeDiff([](qint64) { return QByteArray(9, '\xff') + '\x7f'; }) << "64 bits";
        QTest::newRow("path with ..")
            << editEntry(kPlan, "changes", kConfig, "path", "../outside/client.json")
            << "climbs out";
        QTest::newRow("patch against a file outside the client folder")
            << linkOutside("bin") << "bin is a link";
        QTest::newRow("manifest entry that is a link on disk")
            << linkOutside(kUnchanged) << "unchanged.txt is a link";
        QTest::newRow("whole file missing from the delta") << Tamper([](const Folders& folders) {
            QVERIFY(QFile::remove(folders.delta + '/' + kWhole + kNew));
        }) << "new.dat is missing";
        // Written after the other files, which go again.
        QTest::newRow("rebuilt file of another digest")
            << editEntry(DeltaPlan::manifestFile(), "files", kUnchanged, "sha256", QString(64, 'b'))
            << "another SHA-256";
        QTest::newRow("dropped file still in the release")
            << editEntry(kPlan, "dropped", kDropped, "path", kEmpty)
            << "drops a file the new release holds";
    }

    void rebuild()
    {
        QFETCH(Tamper, tamper);
        QFETCH(QString, reason);
        QTemporaryDir work;
        const Folders folders{work.path() + "/client",
                              work.path() + "/unpacked/QuorvexClient_2.0.0-2.1.0",
                              work.path() + "/outside"};
        QVERIFY(QDir().mkpath(folders.outside));
        QVERIFY(QProcess::execute("cp", {"-a", oldTree(), folders.installed}) == 0);
        const QString package = work.path() + "/unpacked/" + QFileInfo(m_deltaPackage).fileName();
        QDir().mkpath(work.path() + "/unpacked");
        QVERIFY(QFile::copy(m_deltaPackage, package));
        QCOMPARE(PackageUnpacker(package, work.path() + "/unpacked/").unpack(qint64(1) << 30),
                 PackageUnpacker::Result::Unpacked);
        write(folders.delta + '/' + kPlan, m_summary->plan);
        tamper(folders);
        if (QTest::currentTestFailed())
            return;
        const auto installed = ClientFiles::tree(folders.installed);
        const auto outside = ClientFiles::tree(folders.outside);
        const QString output = work.path() + "/rebuilt";

        const Outcome rebuilt = rebuildFrom(folders, output);
        if (reason.isEmpty()) {
            QVERIFY2(rebuilt.ok(), qPrintable(rebuilt.error()));
            QCOMPARE(ClientFiles::tree(output), ClientFiles::tree(newTree()));
            QCOMPARE(ReleaseManifest::fromFolder(output)->toJson(),
                     read(folders.delta + '/' + DeltaPlan::manifestFile()));
        } else {
            QVERIFY2(rebuilt.error().contains(QRegularExpression(reason)),
                     qPrintable(rebuilt.error()));
            QVERIFY(!QFileInfo::exists(output));
        }
        QCOMPARE(ClientFiles::tree(folders.installed), installed);
        QCOMPARE(ClientFiles::tree(folders.outside), outside);
    }

    // An install removes a file of the last one that the new release lacks only while the list
    // kept then names it and it is still the file installed.
    void droppedFiles_data()
    {
        QTest::addColumn<FolderChange>("change"); // to the client folder after the last install
        QTest::addColumn<QStringList>("dropped");
        const QString list = InstalledFiles::relativePath("AutoUpdate");
        QTest::newRow("as installed")
            << FolderChange([](const QString&) {}) << QStringList{kDropped};
        QTest::newRow("changed by the user") << FolderChange([](const QString& client) {
            write(client + '/' + kDropped, "only in the old release, edited");
        }) << QStringList();
        QTest::newRow("a link to the same content") << FolderChange([](const QString& client) {
            write(client + "/../same.txt", read(client + '/' + kDropped));
            QFile::remove(client + '/' + kDropped);
            QFile::link(client + "/../same.txt", client + '/' + kDropped);
        }) << QStringList();
        QTest::newRow("no list") << FolderChange([=](const QString& client) {
            QFile::remove(client + '/' + list);
        }) << QStringList();
        QTest::newRow("list naming a file outside") << FolderChange([=](const QString& client) {
            write(client + "/../outside.txt", "mine");
            editJson(client + '/' + list, [](QJsonObject& json) {
                QJsonArray files = json.value("files").toArray();
                files.append(QJsonObject{
                    {"path", "../outside.txt"},
                    {"size", 4},
                    {"sha256",
                     QString(QCryptographicHash::hash("mine", QCryptographicHash::Sha256).toHex())},
                    {"mode", 420}});
                json.insert("files", files);
            });
        }) << QStringList();
    }

    void droppedFiles()
    {
        QFETCH(FolderChange, change);
        QTemporaryDir work;
        const QString client = work.path() + "/client";
        QVERIFY(QProcess::execute("cp", {"-a", oldTree(), client}) == 0);
        QVERIFY(InstalledFiles::record(client, "AutoUpdate"));
        change(client);

        QTEST(InstalledFiles::droppedBy(newTree(), client, "AutoUpdate"), "dropped");
        QVERIFY(QFile::exists(work.path() + "/client/" + kDropped));
    }

    // A tree that cannot be published leaves no package behind.
    void makerRefuses_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("deltaName");
        QTest::addColumn<QString>("reason");
        QTest::newRow("link in the new tree") << "new/lib" << QString("d.zip") << "symbolic link";
        QTest::newRow("link in the old tree") << "old/lib" << QString("d.zip") << "symbolic link";
        QTest::newRow("no top folder") << "" << QString(".zip") << "not named";
    }

    void makerRefuses()
    {
        QFETCH(QString, link);
        QFETCH(QString, deltaName);
        QFETCH(QString, reason);
        QTemporaryDir work;
        QVERIFY(QProcess::execute("cp", {"-a", oldTree(), work.path() + "/old"}) == 0);
        QVERIFY(QProcess::execute("cp", {"-a", newTree(), work.path() + "/new"}) == 0);
        QVERIFY(link.isEmpty() || QFile::link("/usr/lib", work.path() + '/' + link));
        const QString delta = work.path() + '/' + deltaName;

        const auto made = updateservice::makeDelta(
            {work.path() + "/old", work.path() + "/new", "2.0.0", "2.1.0", delta});
        QVERIFY(!made);
        QVERIFY2(made.error().contains(reason), qPrintable(made.error()));
        QVERIFY(!QFileInfo::exists(delta));
    }
};

QTEST_MAIN(TestDelta)
#include "tst_delta.moc"
