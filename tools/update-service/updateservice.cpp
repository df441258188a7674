#include "updateservice.h"

#include "selfsignedcert.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>

namespace updateservice {

namespace {

bool equalsIgnoringCase(const std::string& left, const std::string& right)
{
    return std::equal(
        left.begin(), left.end(), right.begin(), right.end(),
        [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

// cpp-httplib adds the connection endpoints to every request's headers; clients never sent them.
bool isAddedByHttplib(const std::string& headerName)
{
    static const char* const kAddedNames[] = {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR",
                                              "LOCAL_PORT"};
    return std::find(std::begin(kAddedNames), std::end(kAddedNames), headerName) !=
           std::end(kAddedNames);
}

std::vector<std::pair<std::string, std::string>> clientHeaders(const httplib::Headers& headers)
{
    std::vector<std::pair<std::string, std::string>> result;
    std::copy_if(headers.begin(), headers.end(), std::back_inserter(result),
                 [](const auto& header) { return !isAddedByHttplib(header.first); });
    return result;
}

// Route patterns are regular expressions; a configured path must only match itself.
std::string exactPattern(const std::string& path)
{
    static const std::regex kMetacharacters(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(path, kMetacharacters, R"(\$&)");
}

// Sized for a hundred clients checking at once. A client's connection holds a worker for as long
// as it stays open, keep-alive included, so fewer workers leave the others waiting seconds for
// one; connections not yet accepted wait in the listen queue.
constexpr std::size_t kWorkerThreads = 128;
constexpr int kListenBacklog = 1024;

// cpp-httplib's default also sets SO_REUSEPORT, which lets a second service bind a port that is
// already serving and so hides the clash.
void reuseAddressOnly(int socket)
{
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}

int bindPortOnly(httplib::Server& server, const Options& options)
{
    if (options.port == 0) {
        return server.bind_to_any_port(options.bindAddress);
    }
    return server.bind_to_port(options.bindAddress, options.port) ? options.port : -1;
}

// The bound port, or -1. The shared cpp-httplib listens with the backlog it was compiled with, a
// handful of connections: a burst of clients overflows that queue, and those dropped wait for the
// kernel's connection retries, seconds apart. Listening again on the bound socket widens it.
int bindPort(httplib::Server& server, const Options& options)
{
    const auto boundSocket = std::make_shared<int>(-1);
    server.set_socket_options([boundSocket](int socket) {
        reuseAddressOnly(socket);
        *boundSocket = socket;
    });
    const int port = bindPortOnly(server, options);
    if (port >= 0) {
        // Should this fail, the library's own queue stays: slower under load, still serving.
        listen(*boundSocket, kListenBacklog);
    }
    return port;
}

int localPort(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    switch (address.ss_family) {
    case AF_INET:
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    case AF_INET6:
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    default:
        return -1;
    }
}

bool isConnected(int socket)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    return getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

// cpp-httplib keeps the sockets it accepted to itself, and its stop() waits for threads that
// may sit on an idle keep-alive connection or in a held handler. Shutting the sockets down
// wakes those threads and makes every response still to be written fail, so nothing more
// reaches the clients.
void shutdownConnectionsOnPort(int port)
{
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::directory_iterator entry("/dev/fd", error);
         !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const int descriptor = std::atoi(entry->path().filename().c_str());
        if (localPort(descriptor) == port && isConnected(descriptor)) {
            shutdown(descriptor, SHUT_RDWR);
        }
    }
}

// A body served through a content provider is never compressed by cpp-httplib, so clients
// receive exactly the scripted bytes.
void setUncompressedBody(httplib::Response& response, std::string body,
                         const std::string& contentType)
{
    if (body.empty()) {
        response.set_header("Content-Type", contentType);
        return;
    }
    const std::size_t length = body.size();
    response.set_content_provider(
        length, contentType,
        [body = std::move(body)](std::size_t offset, std::size_t size, httplib::DataSink& sink) {
            return sink.write(body.data() + offset, size);
        });
}

UpdateService::CheckResponder fixedResponse(CheckResponse response)
{
    return [response = std::move(response)](const RecordedRequest&) { return response; };
}

// Small enough to keep memory flat, large enough that big packages do not crawl.
constexpr std::uint64_t kPieceSize = 64 * 1024;

} // namespace

// One package response in progress, shared by its content provider and its releaser.
struct UpdateService::Transfer
{
    PackageContent content;
    std::string requestLine;
    std::ifstream file;
    std::string buffer;
    std::uint64_t sent = 0;
    bool stalled = false; // a response stalls at most once, so a released one runs on
    std::string cut;      // why the response ended early

    // The piece [offset, offset + length), or null when the file fails.
    const char* read(std::uint64_t offset, std::uint64_t length)
    {
        if (content.bytes) {
            return content.bytes->data() + offset;
        }
        buffer.resize(length);
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(buffer.data(), static_cast<std::streamsize>(length));
        return file.gcount() == static_cast<std::streamsize>(length) ? buffer.data() : nullptr;
    }

    // Pieces end where the delivery wants to stall or drop, so those happen at exact offsets.
    std::uint64_t pieceEnd(std::uint64_t offset) const
    {
        std::uint64_t end = std::min(offset + kPieceSize, content.size);
        const Delivery& delivery = content.delivery;
        if (delivery.stallAfter && !stalled && *delivery.stallAfter > offset) {
            end = std::min(end, *delivery.stallAfter);
        }
        if (delivery.dropAfter && *delivery.dropAfter > offset) {
            end = std::min(end, *delivery.dropAfter);
        }
        return end;
    }

    std::string outcome() const
    {
        std::string text =
            "200, " + std::to_string(sent) + " of " + std::to_string(content.size) + " bytes sent";
        return cut.empty() ? text : text + ", " + cut;
    }
};

std::string RecordedRequest::header(const std::string& name) const
{
    const auto found = std::find_if(headers.begin(), headers.end(), [&](const auto& header) {
        return equalsIgnoringCase(header.first, name);
    });
    return found == headers.end() ? std::string() : found->second;
}

UpdateService::UpdateService() : checkResponder_(fixedResponse(CheckResponse{})) {}

UpdateService::~UpdateService()
{
    stop();
}

bool UpdateService::start(const Options& options)
{
    if (server_) {
        startError_ = "the service is already running";
        return false;
    }
    options_ = options;
    std::unique_ptr<httplib::Server> server = makeServer();
    if (!server->is_valid()) {
        startError_ = "the TLS certificate or private key cannot be used";
        return false;
    }
    server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    const int port = bindPort(*server, options_);
    if (port < 0) {
        startError_ = "cannot listen on " + options_.bindAddress + " port " +
                      std::to_string(options_.port) +
                      ": the port is taken or the address is not one of this machine";
        return false;
    }
    startError_.clear();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    port_ = port;
    server_ = std::move(server);
    registerRoutes();
    serverThread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
    // cpp-httplib ignores stop() until its accept loop runs, so a quick stop() would hang.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void UpdateService::stop()
{
    if (!server_) {
        return;
    }
    server_->stop();
    shutdownConnectionsOnPort(port_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    holdsChanged_.notify_all();
    serverThread_.join();
    server_.reset();
}

std::string UpdateService::startError() const
{
    return startError_;
}

int UpdateService::port() const
{
    return port_;
}

std::string UpdateService::baseUrl() const
{
    return (options_.tls ? "https://" : "http://") + options_.bindAddress + ":" +
           std::to_string(port_);
}

std::string UpdateService::checkUrl() const
{
    return baseUrl() + options_.checkPath;
}

std::string UpdateService::packageUrl() const
{
    return baseUrl() + options_.packagePath;
}

void UpdateService::setCheckResponse(int httpStatus, std::string body, std::string contentType)
{
    setCheckResponder(fixedResponse({httpStatus, std::move(body), std::move(contentType)}));
}

void UpdateService::setCheckResponder(CheckResponder responder)
{
    std::lock_guard<std::mutex> lock(mutex_);
    checkResponder_ = std::move(responder);
}

void UpdateService::setHoldChecks(bool hold)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        holdChecks_ = hold;
    }
    holdsChanged_.notify_all();
}

void UpdateService::addPackage(const std::string& id, std::string bytes, Delivery delivery)
{
    const std::uint64_t size = bytes.size();
    PackageContent content{
        std::make_shared<const std::string>(std::move(bytes)), {}, size, delivery};
    std::lock_guard<std::mutex> lock(mutex_);
    packages_[id] = std::move(content);
}

bool UpdateService::addPackageFile(const std::string& id, const std::string& filePath,
                                   Delivery delivery)
{
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(filePath, error);
    if (error || !std::ifstream(filePath, std::ios::binary)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    packages_[id] = PackageContent{nullptr, filePath, size, delivery};
    return true;
}

void UpdateService::addRedirect(const std::string& id, int httpStatus, std::string location)
{
    std::lock_guard<std::mutex> lock(mutex_);
    packages_[id] = Redirect{httpStatus, std::move(location)};
}

void UpdateService::releaseStalls()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stallReleases_;
    }
    holdsChanged_.notify_all();
}

std::vector<RecordedRequest> UpdateService::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::size_t UpdateService::requestCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

void UpdateService::clearRequests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

void UpdateService::setLogger(Logger logger)
{
    std::lock_guard<std::mutex> lock(logMutex_);
    logger_ = std::move(logger);
}

std::unique_ptr<httplib::Server> UpdateService::makeServer() const
{
    if (!options_.tls) {
        return std::make_unique<httplib::Server>();
    }
    if (!options_.certificateFile.empty() || !options_.privateKeyFile.empty()) {
        return std::make_unique<httplib::SSLServer>(options_.certificateFile.c_str(),
                                                    options_.privateKeyFile.c_str());
    }
    // The server context takes its own references, so the generated pair can go afterwards.
    const SelfSignedCertificate generated = makeSelfSignedCertificate();
    return std::make_unique<httplib::SSLServer>(generated.certificate.get(),
                                                generated.privateKey.get());
}

void UpdateService::registerRoutes()
{
    server_->Post(exactPattern(options_.checkPath),
                  [this](const httplib::Request& request, httplib::Response& response) {
                      answerCheck(request, response);
                  });
    server_->Get(exactPattern(options_.packagePath) + "(.+)",
                 [this](const httplib::Request& request, httplib::Response& response) {
                     answerPackage(request, response);
                 });
    // cpp-httplib tries routes in registration order, so these catch-alls must stay last.
    const auto unrouted = [this](const httplib::Request& request, httplib::Response& response) {
        answerUnrouted(request, response);
    };
    server_->Get(".*", unrouted);
    server_->Post(".*", unrouted);
}

void UpdateService::answerCheck(const httplib::Request& request, httplib::Response& response)
{
    const RecordedRequest recorded = record(request);
    if (!awaitCheckRelease()) {
        log(request, "dropped, service stopped");
        return;
    }
    CheckResponse answer = checkResponder()(recorded);
    response.status = answer.status;
    log(request,
        std::to_string(answer.status) + ", " + std::to_string(answer.body.size()) + " bytes");
    setUncompressedBody(response, std::move(answer.body), answer.contentType);
}

void UpdateService::answerPackage(const httplib::Request& request, httplib::Response& response)
{
    record(request);
    const std::optional<PackageRoute> route = packageRoute(request.matches[1]);
    if (!route) {
        response.status = 404;
        log(request, "404, unknown package");
    } else if (const auto* redirect = std::get_if<Redirect>(&*route)) {
        response.status = redirect->status;
        response.set_header("Location", redirect->location);
        log(request, std::to_string(redirect->status) + ", to " + redirect->location);
    } else {
        sendPackage(request, std::get<PackageContent>(*route), response);
    }
}

void UpdateService::answerUnrouted(const httplib::Request& request, httplib::Response& response)
{
    record(request);
    response.status = 404;
    log(request, "404, unrouted");
}

void UpdateService::sendPackage(const httplib::Request& request, const PackageContent& content,
                                httplib::Response& response)
{
    auto transfer = std::make_shared<Transfer>();
    transfer->content = content;
    transfer->requestLine = request.method + " " + request.target;
    if (!content.filePath.empty()) {
        transfer->file.open(content.filePath, std::ios::binary);
        if (!transfer->file) {
            response.status = 500;
            log(request, "500, package file unreadable");
            return;
        }
    }
    response.status = 200;
    // cpp-httplib never finishes a response whose provided length is zero.
    if (content.size == 0 && content.delivery.contentLength) {
        response.set_header("Content-Type", kPackageContentType);
        log(transfer->requestLine, transfer->outcome());
        return;
    }
    auto logOutcome = [this, transfer](bool) { log(transfer->requestLine, transfer->outcome()); };
    if (content.delivery.contentLength) {
        response.set_content_provider(
            content.size, kPackageContentType,
            [this, transfer](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                return sendPiece(*transfer, offset, sink);
            },
            std::move(logOutcome));
        return;
    }
    response.set_chunked_content_provider(
        kPackageContentType,
        [this, transfer](std::size_t offset, httplib::DataSink& sink) {
            if (offset == transfer->content.size) {
                sink.done();
                return true;
            }
            return sendPiece(*transfer, offset, sink);
        },
        std::move(logOutcome));
}

// False ends the response by closing its connection.
bool UpdateService::sendPiece(Transfer& transfer, std::uint64_t offset, httplib::DataSink& sink)
{
    const Delivery& delivery = transfer.content.delivery;
    if (delivery.dropAfter && offset >= *delivery.dropAfter) {
        transfer.cut = "dropped as scripted";
        return false;
    }
    if (delivery.stallAfter && offset >= *delivery.stallAfter && !transfer.stalled) {
        transfer.stalled = true;
        if (!awaitStallRelease()) {
            transfer.cut = "stalled until the service stopped";
            return false;
        }
    }
    const std::uint64_t length = transfer.pieceEnd(offset) - offset;
    const char* piece = transfer.read(offset, length);
    if (!piece) {
        transfer.cut = "package file unreadable";
        return false;
    }
    if (!sink.write(piece, length)) {
        transfer.cut = "client gone";
        return false;
    }
    transfer.sent = offset + length;
    return true;
}

RecordedRequest UpdateService::record(const httplib::Request& request)
{
    RecordedRequest recorded{request.method, request.path, request.target,
                             clientHeaders(request.headers), request.body};
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(recorded);
    return recorded;
}

// False when the service stops first; the check then stays unanswered.
bool UpdateService::awaitCheckRelease()
{
    std::unique_lock<std::mutex> lock(mutex_);
    holdsChanged_.wait(lock, [this] { return !holdChecks_ || stopping_; });
    return !stopping_;
}

// False when the service stops first.
bool UpdateService::awaitStallRelease()
{
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t releasesSoFar = stallReleases_;
    holdsChanged_.wait(lock, [&] { return stallReleases_ != releasesSoFar || stopping_; });
    return !stopping_;
}

// A copy, so a slow responder never blocks scripting or other checks.
UpdateService::CheckResponder UpdateService::checkResponder() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return checkResponder_;
}

std::optional<UpdateService::PackageRoute> UpdateService::packageRoute(const std::string& id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = packages_.find(id);
    return found == packages_.end() ? std::nullopt : std::optional<PackageRoute>(found->second);
}

void UpdateService::log(const httplib::Request& request, const std::string& outcome)
{
    log(request.method + " " + request.target, outcome);
}

void UpdateService::log(const std::string& requestLine, const std::string& outcome)
{
    std::lock_guard<std::mutex> lock(logMutex_);
    if (logger_) {
        logger_(requestLine + " -> " + outcome);
    }
}

} // namespace updateservice
