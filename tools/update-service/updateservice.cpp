#include "updateservice.h"

#include "selfsignedcert.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
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

// cpp-httplib's default also sets SO_REUSEPORT, which lets a second service bind a port that is
// already serving and so hides the clash.
void reuseAddressOnly(int socket)
{
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}

// The bound port, or -1.
int bindPort(httplib::Server& server, const Options& options)
{
    if (options.port == 0) {
        return server.bind_to_any_port(options.bindAddress);
    }
    return server.bind_to_port(options.bindAddress, options.port) ? options.port : -1;
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

} // namespace

std::string RecordedRequest::header(const std::string& name) const
{
    const auto found = std::find_if(headers.begin(), headers.end(), [&](const auto& header) {
        return equalsIgnoringCase(header.first, name);
    });
    return found == headers.end() ? std::string() : found->second;
}

UpdateService::UpdateService() = default;

UpdateService::~UpdateService()
{
    stop();
}

bool UpdateService::start(const Options& options)
{
    if (server_) {
        return false;
    }
    options_ = options;
    std::unique_ptr<httplib::Server> server = makeServer();
    if (!server->is_valid()) {
        return false;
    }
    server->set_socket_options(reuseAddressOnly);
    const int port = bindPort(*server, options_);
    if (port < 0) {
        return false;
    }
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
    checkReleased_.notify_all();
    serverThread_.join();
    server_.reset();
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

void UpdateService::setCheckResponse(int httpStatus, std::string body, std::string contentType)
{
    std::lock_guard<std::mutex> lock(mutex_);
    checkResponse_ = {httpStatus, std::move(body), std::move(contentType)};
}

void UpdateService::setHoldChecks(bool hold)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        holdChecks_ = hold;
    }
    checkReleased_.notify_all();
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
    // cpp-httplib tries routes in registration order, so these catch-alls must stay last.
    const auto unrouted = [this](const httplib::Request& request, httplib::Response& response) {
        answerUnrouted(request, response);
    };
    server_->Get(".*", unrouted);
    server_->Post(".*", unrouted);
}

void UpdateService::answerCheck(const httplib::Request& request, httplib::Response& response)
{
    record(request);
    if (!awaitCheckRelease()) {
        log(request, "dropped, service stopped");
        return;
    }
    ScriptedResponse scripted = checkResponse();
    response.status = scripted.status;
    log(request,
        std::to_string(scripted.status) + ", " + std::to_string(scripted.body.size()) + " bytes");
    setUncompressedBody(response, std::move(scripted.body), scripted.contentType);
}

void UpdateService::answerUnrouted(const httplib::Request& request, httplib::Response& response)
{
    record(request);
    response.status = 404;
    log(request, "404, unrouted");
}

void UpdateService::record(const httplib::Request& request)
{
    RecordedRequest recorded{request.method, request.path, request.target,
                             clientHeaders(request.headers), request.body};
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(recorded));
}

// False when the service stops first; the check then stays unanswered.
bool UpdateService::awaitCheckRelease()
{
    std::unique_lock<std::mutex> lock(mutex_);
    checkReleased_.wait(lock, [this] { return !holdChecks_ || stopping_; });
    return !stopping_;
}

UpdateService::ScriptedResponse UpdateService::checkResponse() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return checkResponse_;
}

void UpdateService::log(const httplib::Request& request, const std::string& outcome)
{
    std::lock_guard<std::mutex> lock(logMutex_);
    if (logger_) {
        logger_(request.method + " " + request.target + " -> " + outcome);
    }
}

} // namespace updateservice
