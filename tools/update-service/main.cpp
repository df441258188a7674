#include "publisher.h"
#include "releasecatalogue.h"
#include "signingkey.h"
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
                         [--name NAME] [--config PATH] [--sign-key FILE]
  update-service keygen --out DIR
  update-service serve --releases RELEASES_DIR [--address ADDRESS] [--port PORT]
                       [--tls-cert FILE --tls-key FILE] [--check-path PATH]
                       [--package-path PATH]
  update-service help

publish  Makes the release RELEASES_DIR/VERSION of a client build: the package, its
         description release.json, and site/, a copy for a static web server with an
         nginx configuration.
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

keygen   Writes a new Ed25519 key pair for signing releases into DIR (created when
         missing): signing.key, the secret key, readable by its owner only; keep it
         off the release server. signing.pub, the public key as one line of base64,
         for the "publicKey" of the updater's configuration. Never replaces a key.
  --out DIR             the folder for the two files

serve    Answers the updater's checks with the most recently published release and
         serves the packages of all releases until Ctrl-C or SIGTERM, logging one line
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
    {"sign-key", "FILE", false},
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

// Parses "COMMAND --option value ..."; false with the usage problem.
template <std::size_t N>
bool parseCommand(QCommandLineParser& parser, const QStringList& arguments,
                  const OptionDefinition (&definitions)[N], QString* problem)
{
    for (const OptionDefinition& option : definitions) {
        parser.addOption(QCommandLineOption(option.name, QString(), option.valueName));
    }
    if (!parser.parse(arguments)) {
        *problem = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *problem = QStringLiteral("unexpected argument \"%1\"")
                       .arg(parser.positionalArguments().constFirst());
        return false;
    }
    for (const OptionDefinition& option : definitions) {
        if (option.required && !parser.isSet(option.name)) {
            *problem = QStringLiteral("%1 needs --%2 %3")
                           .arg(arguments.constFirst(), option.name, option.valueName);
            return false;
        }
    }
    return true;
}

void assignIfSet(const QCommandLineParser& parser, const char* name, QString& target)
{
    if (parser.isSet(name)) {
        target = parser.value(name);
    }
}

int runPublish(const QStringList& arguments)
{
    QCommandLineParser parser;
    QString problem;
    if (!parseCommand(parser, arguments, kPublishOptions, &problem)) {
        return usageError(problem);
    }
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
    const QString kind = parser.value("kind");
    if (!kind.isEmpty() && kind != "zip" && kind != "installer") {
        return usageError(QStringLiteral("--kind is zip or installer, not \"%1\"").arg(kind));
    }
    request.kind = kind == "installer" ? PackageKind::Installer : PackageKind::Zip;

    QString error;
    const std::optional<Release> release = publish(request, &error);
    if (!release) {
        return refuse(error);
    }
    const QString keyId = release->offer.keyId;
    printLine(stdout,
              QStringLiteral("published %1 in %2: %3, %4 bytes, md5 %5%6")
                  .arg(release->version(), release->folder, release->packageFile)
                  .arg(release->offer.packageSize)
                  .arg(release->offer.md5,
                       keyId.isEmpty() ? QString() : QStringLiteral(", signed with key ") + keyId));
    return 0;
}

int runKeygen(const QStringList& arguments)
{
    QCommandLineParser parser;
    QString problem;
    if (!parseCommand(parser, arguments, kKeygenOptions, &problem)) {
        return usageError(problem);
    }
    QString error;
    const std::optional<KeyFiles> keys = writeKeyPair(parser.value("out"), &error);
    if (!keys) {
        return refuse(error);
    }
    printLine(stdout,
              QStringLiteral("wrote %1 (secret: keep it off the release server) and %2; "
                             "key id %3; the updater's \"publicKey\": %4")
                  .arg(keys->secretKeyPath, keys->publicKeyPath, keys->keyId, keys->publicKey));
    return 0;
}

// Fills options from the command line; false with the usage problem.
bool serveOptions(const QCommandLineParser& parser, Options& options, QString* problem)
{
    options.port = 8080;
    if (parser.isSet("port")) {
        bool isNumber = false;
        options.port = parser.value("port").toInt(&isNumber);
        if (!isNumber || options.port < 0 || options.port > 65535) {
            *problem = QStringLiteral("--port takes a number from 0 to 65535");
            return false;
        }
    }
    if (parser.isSet("tls-cert") != parser.isSet("tls-key")) {
        *problem = QStringLiteral("--tls-cert and --tls-key go together");
        return false;
    }
    options.tls = parser.isSet("tls-cert");
    options.certificateFile = parser.value("tls-cert");
    options.privateKeyFile = parser.value("tls-key");
    assignIfSet(parser, "address", options.bindAddress);
    for (const auto& [name, path] : {std::pair{"check-path", &options.checkPath},
                                     std::pair{"package-path", &options.packagePath}}) {
        if (parser.isSet(name) && !parser.value(name).startsWith('/')) {
            *problem = QStringLiteral("--%1 must start with /").arg(name);
            return false;
        }
        assignIfSet(parser, name, *path);
    }
    return true;
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

int runServe(const QStringList& arguments)
{
    // Blocked before any service thread exists, so the threads inherit the mask and only the
    // sigwait() below receives the signals.
    const sigset_t stopSet = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);

    QCommandLineParser parser;
    QString problem;
    Options options;
    if (!parseCommand(parser, arguments, kServeOptions, &problem) ||
        !serveOptions(parser, options, &problem)) {
        return usageError(problem);
    }
    for (const QString& file : {parser.value("tls-cert"), parser.value("tls-key")}) {
        if (!file.isEmpty() && !QFileInfo(file).isReadable()) {
            return refuse(QStringLiteral("cannot read %1").arg(file));
        }
    }
    QString error;
    const std::optional<ReleaseCatalogue> catalogue =
        ReleaseCatalogue::load(parser.value("releases"), &error);
    UpdateService service;
    if (!catalogue || !catalogue->serveWith(service, &error)) {
        return refuse(error);
    }
    service.setLogger(printAccessLine);
    const Outcome started = service.start(options);
    if (!started) {
        return refuse(started.error());
    }
    printLine(stdout, QStringLiteral("serving %1 release(s), newest %2, at %3: updateCheckUrl %4, "
                                     "updatePackageUrl %5")
                          .arg(catalogue->releases().size())
                          .arg(catalogue->newest().version(), service.baseUrl(), service.checkUrl(),
                               service.packageUrl()));
    int received = 0;
    sigwait(&stopSet, &received);
    printLine(stdout,
              QStringLiteral("stopping on %1").arg(received == SIGINT ? "SIGINT" : "SIGTERM"));
    service.stop();
    return 0;
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
