#include "updateservice.h"

#include "packagetransfer.h"
#include "serversetup.h"

#include <httplib.h>

#include <QFile>

#include <chrono>
#include <regex>

namespace updateservice {

namespace {

// Route patterns are regular expressions; a configured path must only match itself.
std::string exactPattern(const QString& path)
{
    static const std::regex kMetacharacters(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(path.toStdString(), kMetacharacters, R"(\$&)");
}

// A body served through a content provider is never compressed by cpp-httplib, so clients
// receive exactly the given bytes.
void setUncompressedBody(httplib::Response& response, const QByteArray& body,
                         const QByteArray& contentType)
{
    if (body.isEmpty()) {
        response.set_header("Content-Type", contentType.toStdString());
        return;
    }
    response.set_content_provider(
        body.size(), contentType.toStdString(),
        [body](std::size_t offset, std::size_t size, httplib::DataSink& sink) {
            return sink.write(body.constData() + offset, size);
        });
}

QString requestLine(const httplib::Request& request)
{
    return QString::fromStdString(request.method + " " + request.target);
}

// Small enough to keep memory flat, large enough that big packages do not crawl.
constexpr qint64 kPieceSize = 64 * 1024;

} // namespace

UpdateService::UpdateService() = default;

UpdateService::~UpdateService()
{
    stop();
}

Outcome UpdateService::start(const Options& options)
{
    if (m_server) {
        return Outcome::failure(QStringLiteral("the service is already running"));
    }
    m_options = options;
    Result<BoundServer> bound = bindServer(m_options);
    if (!bound) {
        return Outcome::failure(bound.error());
    }
    m_port = bound->port;
    m_server = std::move(bound.value().server);
    registerRoutes();
    m_serverThread = std::thread([server = m_server.get()] { server->listen_after_bind(); });
    // cpp-httplib ignores stop() until its accept loop runs, so a quick stop() would hang.
    while (!m_server->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Outcome::success();
}

void UpdateService::stop()
{
    if (!m_server) {
        return;
    }
    m_server->stop();
    shutdownConnectionsOnPort(m_port);
    stopping();
    m_serverThread.join();
    m_server.reset();
}

int UpdateService::port() const
{
    return m_port;
}

QString UpdateService::baseUrl() const
{
    return QStringLiteral("%1://%2:%3")
        .arg(m_options.tls ? "https" : "http", m_options.bindAddress)
        .arg(m_port);
}

QString UpdateService::checkUrl() const
{
    return baseUrl() + m_options.checkPath;
}

QString UpdateService::packageUrl() const
{
    return baseUrl() + m_options.packagePath;
}

void UpdateService::setCheckResponder(CheckResponder responder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_checkResponder = std::move(responder);
}

Outcome UpdateService::addPackageFile(const QString& id, const QString& filePath)
{
    Result<Package> package = filePackage(filePath);
    if (!package) {
        return Outcome::failure(package.error());
    }
    setPackage(id, std::move(package.value()));
    return Outcome::success();
}

void UpdateService::setLogger(Logger logger)
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_logger = std::move(logger);
}

Result<Package> UpdateService::filePackage(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return Result<Package>::failure(QStringLiteral("cannot read package %1").arg(filePath));
    }
    Package package;
    package.size = static_cast<quint64>(file.size());
    package.open = [filePath]() -> PieceReader {
        auto file = std::make_shared<QFile>(filePath);
        if (!file->open(QIODevice::ReadOnly)) {
            return [](quint64, QByteArray&) { return false; };
        }
        return [file](quint64 offset, QByteArray& piece) {
            piece = file->seek(static_cast<qint64>(offset)) ? file->read(kPieceSize) : QByteArray();
            return !piece.isEmpty();
        };
    };
    return package;
}

void UpdateService::setPackage(const QString& id, Package package)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_packages.insert(id, std::move(package));
}

std::optional<CheckResponse> UpdateService::answerCheck(const QByteArray& requestBody)
{
    CheckResponder responder;
    {
        // A copy, so a slow responder never blocks other checks.
        std::lock_guard<std::mutex> lock(m_mutex);
        responder = m_checkResponder;
    }
    return responder ? responder(requestBody) : CheckResponse{};
}

void UpdateService::stopping() {}

void UpdateService::registerRoutes()
{
    using Answer = void (UpdateService::*)(const httplib::Request&, httplib::Response&);
    const auto handler = [this](Answer answer) -> httplib::Server::Handler {
        return [this, answer](const httplib::Request& request, httplib::Response& response) {
            (this->*answer)(request, response);
        };
    };
    m_server->Post(exactPattern(m_options.checkPath), handler(&UpdateService::onCheck));
    m_server->Get(exactPattern(m_options.packagePath) + "(.+)", handler(&UpdateService::onPackage));
    // cpp-httplib tries routes in registration order, so these catch-alls must stay last.
    m_server->Get(".*", handler(&UpdateService::onUnrouted));
    m_server->Post(".*", handler(&UpdateService::onUnrouted));
}

void UpdateService::onCheck(const httplib::Request& request, httplib::Response& response)
{
    const std::optional<CheckResponse> answer =
        answerCheck(QByteArray::fromStdString(request.body));
    if (!answer) {
        log(requestLine(request), QStringLiteral("left unanswered"));
        return;
    }
    response.status = answer->status;
    log(requestLine(request),
        QStringLiteral("%1, %2 bytes").arg(answer->status).arg(answer->body.size()));
    setUncompressedBody(response, answer->body, answer->contentType);
}

void UpdateService::onPackage(const httplib::Request& request, httplib::Response& response)
{
    std::optional<Package> found = package(QString::fromStdString(request.matches[1]));
    if (!found) {
        response.status = 404;
        log(requestLine(request), QStringLiteral("404, unknown package"));
    } else {
        sendPackage(std::make_shared<PackageTransfer>(std::move(*found), requestLine(request)),
                    response);
    }
}

void UpdateService::onUnrouted(const httplib::Request& request, httplib::Response& response)
{
    response.status = 404;
    log(requestLine(request), QStringLiteral("404, unrouted"));
}

void UpdateService::sendPackage(const std::shared_ptr<PackageTransfer>& transfer,
                                httplib::Response& response)
{
    response.status = 200;
    // cpp-httplib never finishes a response whose provided length is zero.
    if (transfer->size() == 0) {
        response.set_header("Content-Type", kPackageContentType);
        log(transfer->requestLine(), transfer->outcome());
        return;
    }
    response.set_content_provider(
        transfer->size(), kPackageContentType,
        [transfer](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            return transfer->sendPiece(offset, sink);
        },
        [this, transfer](bool) { log(transfer->requestLine(), transfer->outcome()); });
}

std::optional<Package> UpdateService::package(const QString& id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_packages.constFind(id);
    return found == m_packages.constEnd() ? std::nullopt : std::optional<Package>(*found);
}

void UpdateService::log(const QString& requestLine, const QString& outcome)
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    if (m_logger) {
        m_logger(requestLine + QStringLiteral(" -> ") + outcome);
    }
}

} // namespace updateservice
