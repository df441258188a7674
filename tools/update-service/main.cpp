#include "publisher.h"
#include "releasecatalogue.h"
#include "signingkey.h"
#include "steps.h"
#include "updateservice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <pthread.h>

using namespace updateservice;

namespace {

const char kUsage[] = R"(Usage:
  update-service publish --build PATH --version VERSION --notes-zh TEXT --notes-en TEXT
                         --out RELEASES_DIR [--kind zip|installer] [--mode 1|2]
                         [--name NAME] [--config PATH] [--sign-key FILE] [--deltas N]
  update-service keygen --out DIR
  update-service serve --releases RELEASES_DIR [--address ADDRESS] [--port PORT]
                       [--tls-cert FILE --tls-key FILE] [--check-path PATH]
                       [--package-path PATH]
  update-service help

publish  Makes the release RELEASES_DIR/VERSION of a client build: the package, its
         description release.json, and site/, a copy for a static web server with an
         nginx configuration. A zip release also gets NAME_VERSION.manifest.json, every
         file with its size and SHA-256, and deltas from earlier releases.
  --build PATH          the client build folder (zip) or the installer program (installer)
  --version VERSION     the client version the package installs; a zip build's client
                        configuration must already name it
  --notes-zh TEXT       release notes in Chinese
  --notes-en TEXT       release notes in English; neither may contain "&"
  --out RELEASES_DIR    the folder of releases; created when missing
  --kind zip|installer  zip (default): the build folder, zipped below one top folder
                        NAME_VERSION; installer: the program itself is the package
  --mode 1|2            1 (default): the user may postpone the update; 2: forced
  --name NAME           package file NAME_VERSION.zip, or NAME_VERSION with the
                        installer's ending (default quorvex)
  --config PATH         the client configuration inside the build folder
                        (default config/client.json)
  --sign-key FILE       sign the release with this signing.key from keygen: the
                        answer then also carries sha256, sequence, keyId and signature
  --deltas N            offer deltas from the latest N earlier releases of the same
                        client (default 3; 0: none); one larger than 60 % of the full
                        package is not offered

keygen   Writes a new Ed25519 key pair for signing releases into DIR (created when
         missing): signing.key, the secret key, readable by its owner only; keep it
         off the release server. signing.pub, the public key as one line of base64,
         for the "publicKey" of the updater's configuration. Never replaces a key.
  --out DIR             the folder for the two files

serve    Answers the updater's checks with the most recently published release and
         serves the packages and deltas of all releases until Ctrl-C or SIGTERM, logging one line
         per request on standard output. Releases published later need a restart.
  --releases RELEASES_DIR  the folder publish wrote to
  --address ADDRESS     address to listen on (default 127.0.0.1)
  --port PORT           port to listen on, 0 for any free one (default 8080)
  --tls-cert FILE       serve HTTPS with this PEM certificate...
  --tls-key FILE        ...and this PEM private key
  --check-path PATH     path of the check (default /check)
  --package-path PATH   path that package ids are appended to (default /pack/)

Exit status: 0 done, 1 refused or failed (one line on standard error), 2 wrong usage.
)";

struct OptionDefinition
{
    const char* name;
    const char* valueName;
    bool required;
};

const OptionDefinition kPublishOptions[] = {
    {"build", "PATH", true},     {"version", "VERSION", true},  {"notes-zh", "TEXT", true},
    {"notes-en", "TEXT", true},  {"out", "RELEASES_DIR", true}, {"kind", "zip|installer", false},
    {"mode", "1|2", false},      {"name", "NAME", false},       {"config", "PATH", false},
    {"sign-key", "FILE", false}, {"deltas", "N", false},
};

const OptionDefinition kKeygenOptions[] = {
    {"out", "DIR", true},
};

const OptionDefinition kServeOptions[] = {
    {"releases", "RELEASES_DIR", true},
    {"address", "ADDRESS", false},
    {"port", "PORT", false},
    {"tls-cert", "FILE", false},
    {"tls-key", "FILE", false},
    {"check-path", "PATH", false},
    {"package-path", "PATH", false},
};

constexpr int kDefaultPort = 8080;

void printLine(std::FILE* stream, const QString& line)
{
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stream);
}

int refuse(const QString& message)
{
    printLine(stderr, QStringLiteral("update-service: ") + message);
    return 1;
}

int usageError(const QString& message)
{
    printLine(stderr, QStringLiteral("update-service: %1 (see: update-service help)").arg(message));
    return 2;
}

// Reads "COMMAND --option value ..." into parser; fails with the usage problem.
template <std::size_t N>
Outcome parseCommand(QCommandLineParser& parser, const QStringList& arguments,
                     const OptionDefinition (&definitions)[N])
{
    for (const OptionDefinition& option : definitions) {
        parser.addOption(QCommandLineOption(option.name, QString(), option.valueName));
    }
    if (!parser.parse(arguments)) {
        return Outcome::failure(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Outcome::failure(QStringLiteral("unexpected argument \"%1\"")
                                    .arg(parser.positionalArguments().constFirst()));
    }
    for (const OptionDefinition& option : definitions) {
        if (option.required && !parser.isSet(option.name)) {
            return Outcome::failure(
                QStringLiteral("%1 needs --%2 %3")
                    .arg(arguments.constFirst(), option.name, option.valueName));
        }
    }
    return Outcome::success();
}

// Runs a command: reads its options, turns them into a request and carries that out. Exits with
// 2 when the options are wrong and with 1 when the command refuses or fails.
template <std::size_t N, typename ReadRequest, typename CarryOut>
int runCommand(const QStringList& arguments, const OptionDefinition (&definitions)[N],
               ReadRequest readRequest, CarryOut carryOut)
{
    QCommandLineParser parser;
    const Outcome parsed = parseCommand(parser, arguments, definitions);
    if (!parsed) {
        return usageError(parsed.error());
    }
    const auto request = readRequest(parser);
    if (!request) {
        return usageError(request.error());
    }
    const Outcome done = carryOut(request.value());
    return done ? 0 : refuse(done.error());
}

// Prints what a command made, described by describe, or hands back why it could not.
template <typename T> Outcome report(const Result<T>& made, QString (*describe)(const T&))
{
    if (!made) {
        return Outcome::failure(made.error());
    }
    printLine(stdout, describe(made.value()));
    return Outcome::success();
}

void assignIfSet(const QCommandLineParser& parser, const char* name, QString& target)
{
    if (parser.isSet(name)) {
        target = parser.value(name);
    }
}

Result<PublishRequest> publishRequest(const QCommandLineParser& parser)
{
    PublishRequest request;
    request.buildPath = parser.value("build");
    request.version = parser.value("version");
    request.notesZh = parser.value("notes-zh");
    request.notesEn = parser.value("notes-en");
    request.releasesDir = parser.value("out");
    assignIfSet(parser, "mode", request.updateMode);
    assignIfSet(parser, "name", request.name);
    assignIfSet(parser, "config", request.clientConfig);
    assignIfSet(parser, "sign-key", request.signingKeyPath);
    if (parser.isSet("deltas")) {
        bool isNumber = false;
        request.deltas = parser.value("deltas").toInt(&isNumber);
        if (!isNumber || request.deltas < 0)
            return Result<PublishRequest>::failure(
                QStringLiteral("--deltas takes a number from 0 up, not \"%1\"")
                    .arg(parser.value("deltas")));
    }
    const QString kind = parser.value("kind");
    if (!kind.isEmpty() && kind != "zip" && kind != "installer") {
        return Result<PublishRequest>::failure(
            QStringLiteral("--kind is zip or installer, not \"%1\"").arg(kind));
    }
    request.kind = kind == "installer" ? PackageKind::Installer : PackageKind::Zip;
    return request;
}

QString describePublished(const Release& release)
{
    const QString keyId = release.offer.keyId;
    const QString published =
        QStringLiteral("published %1 in %2: %3, %4 bytes, md5 %5%6")
            .arg(release.version(), release.folder, release.packageFile)
            .arg(release.offer.packageSize)
            .arg(release.offer.md5,
                 keyId.isEmpty() ? QString() : QStringLiteral(", signed with key ") + keyId);
    return (QStringList(published) + release.deltaSizes).join(QStringLiteral("\n"));
}

int runPublish(const QStringList& arguments)
{
    return runCommand(
        arguments, kPublishOptions, publishRequest, [](const PublishRequest& request) {
            const Result<Release> release = publish(request);
            for (const QString& warning : release ? release->warnings : QStringList()) {
                printLine(stderr, QStringLiteral("warning: ") + warning);
            }
            return report(release, describePublished);
        });
}

QString describeKeys(const KeyFiles& keys)
{
    return QStringLiteral("wrote %1 (secret: keep it off the release server) and %2; "
                          "key id %3; the updater's \"publicKey\": %4")
        .arg(keys.secretKeyPath, keys.publicKeyPath, keys.keyId, keys.publicKey);
}

int runKeygen(const QStringList& arguments)
{
    return runCommand(
        arguments, kKeygenOptions,
        [](const QCommandLineParser& parser) { return Result<QString>(parser.value("out")); },
        [](const QString& folder) { return report(writeKeyPair(folder), describeKeys); });
}

struct ServeRequest
{
    QString releasesDir;
    Options options;
};

Result<int> listenPort(const QCommandLineParser& parser)
{
    if (!parser.isSet("port")) {
        return kDefaultPort;
    }
    bool isNumber = false;
    const int port = parser.value("port").toInt(&isNumber);
    if (!isNumber || port < 0 || port > 65535) {
        return Result<int>::failure(QStringLiteral("--port takes a number from 0 to 65535"));
    }
    return port;
}

Result<ServeRequest> serveRequest(const QCommandLineParser& parser)
{
    const Result<int> port = listenPort(parser);
    if (!port) {
        return Result<ServeRequest>::failure(port.error());
    }
    if (parser.isSet("tls-cert") != parser.isSet("tls-key")) {
        return Result<ServeRequest>::failure(
            QStringLiteral("--tls-cert and --tls-key go together"));
    }
    ServeRequest request{parser.value("releases"), {}};
    Options& options = request.options;
    options.port = port.value();
    options.tls = parser.isSet("tls-cert");
    options.certificateFile = parser.value("tls-cert");
    options.privateKeyFile = parser.value("tls-key");
    assignIfSet(parser, "address", options.bindAddress);
    for (const auto& [name, path] : {std::pair{"check-path", &options.checkPath},
                                     std::pair{"package-path", &options.packagePath}}) {
        if (parser.isSet(name) && !parser.value(name).startsWith('/')) {
            return Result<ServeRequest>::failure(
                QStringLiteral("--%1 must start with /").arg(name));
        }
        assignIfSet(parser, name, *path);
    }
    return request;
}

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void printAccessLine(const QString& line)
{
    printLine(stdout, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + ' ' + line);
}

Outcome checkTlsFilesReadable(const Options& options)
{
    for (const QString& file : {options.certificateFile, options.privateKeyFile}) {
        if (!file.isEmpty() && !QFileInfo(file).isReadable()) {
            return Outcome::failure(QStringLiteral("cannot read %1").arg(file));
        }
    }
    return Outcome::success();
}

Outcome serveCatalogue(const ReleaseCatalogue& catalogue, const Options& options,
                       const sigset_t& stopSet)
{
    UpdateService service;
    service.setLogger(printAccessLine);
    const Outcome started = inTurn([&] { return catalogue.serveWith(service); },
                                   [&] { return service.start(options); });
    if (!started) {
        return started;
    }
    printLine(stdout, QStringLiteral("serving %1 release(s), newest %2, at %3: updateCheckUrl %4, "
                                     "updatePackageUrl %5")
                          .arg(catalogue.releases().size())
                          .arg(catalogue.newest().version(), service.baseUrl(), service.checkUrl(),
                               service.packageUrl()));
    int received = 0;
    sigwait(&stopSet, &received);
    printLine(stdout,
              QStringLiteral("stopping on %1").arg(received == SIGINT ? "SIGINT" : "SIGTERM"));
    service.stop();
    return Outcome::success();
}

Outcome serve(const ServeRequest& request, const sigset_t& stopSet)
{
    const Outcome readable = checkTlsFilesReadable(request.options);
    if (!readable) {
        return readable;
    }
    const Result<ReleaseCatalogue> catalogue = ReleaseCatalogue::load(request.releasesDir);
    if (!catalogue) {
        return Outcome::failure(catalogue.error());
    }
    return serveCatalogue(catalogue.value(), request.options, stopSet);
}

int runServe(const QStringList& arguments)
{
    // Blocked before any service thread exists, so the threads inherit the mask and only the
    // sigwait() in serveCatalogue() receives the signals.
    const sigset_t stopSet = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    return runCommand(arguments, kServeOptions, serveRequest,
                      [&stopSet](const ServeRequest& request) { return serve(request, stopSet); });
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == "publish") {
        return runPublish(arguments);
    }
    if (command == "keygen") {
        return runKeygen(arguments);
    }
    if (command == "serve") {
        return runServe(arguments);
    }
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return usageError(command.isEmpty() ? QStringLiteral("no command given")
                                        : QStringLiteral("unknown command \"%1\"").arg(command));
}
