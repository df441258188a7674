#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace updateservice {

// Answer given to checks until setCheckResponse() scripts another: success, no update available.
inline constexpr const char* kNoUpdateResponse =
    R"({"code":"000000","desc":"","biz":{"update":"0"}})";
inline constexpr const char* kJsonContentType = "application/json;charset=UTF-8";

struct Options
{
    // Serve HTTPS. Without certificateFile/privateKeyFile a fresh self-signed certificate for
    // 127.0.0.1 and localhost is made at start(); clients are not expected to trust it.
    bool tls = false;
    std::string certificateFile; // PEM; used together with privateKeyFile
    std::string privateKeyFile;  // PEM
    std::string bindAddress = "127.0.0.1";
    int port = 0; // 0 picks a free port
    std::string checkPath = "/check";
};

struct RecordedRequest
{
    std::string method;
    std::string path;   // percent-decoded, without the query
    std::string target; // as on the request line, query included
    // Names keep the case they arrived in; ordered by name, case-insensitively.
    // cpp-httplib percent-decodes the values while parsing.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // First value of the named header, matched case-insensitively; empty when absent.
    std::string header(const std::string& name) const;
};

// An HTTP(S) service on a background thread that plays the update server for the updater.
//
// Check requests (POST on Options::checkPath) get the scripted status and body, which go out
// byte for byte, never compressed. Every GET and POST is recorded; those no route takes are
// answered 404 with an empty body.
//
// start(), stop() and the port and URL getters belong to the owning thread; scripting,
// recording and logging members may be called from any thread.
//
// Needs a POSIX system: stop() finds the open connections through /dev/fd.
class UpdateService
{
public:
    using Logger = std::function<void(const std::string& line)>;

    UpdateService();
    ~UpdateService();
    UpdateService(const UpdateService&) = delete;
    UpdateService& operator=(const UpdateService&) = delete;

    // Binds and starts serving. False when the address cannot be bound, the certificate cannot
    // be loaded, or the service is already running.
    bool start(const Options& options = {});
    // Closes every connection, answering nothing further, held checks included, and returns
    // once the service threads are gone. A stopped service may be started again.
    void stop();

    int port() const;
    std::string baseUrl() const; // "http://127.0.0.1:PORT" or "https://..."
    std::string checkUrl() const;

    // Applies to the next check answered, including checks currently held.
    void setCheckResponse(int httpStatus, std::string body,
                          std::string contentType = kJsonContentType);
    // While on, check requests are recorded but left unanswered until the hold is switched
    // off (they then get the response scripted at that moment) or the service stops (their
    // connections close without an answer).
    void setHoldChecks(bool hold);

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    void clearRequests();

    // Receives one line per request once its outcome is known, on a service thread, one call
    // at a time.
    void setLogger(Logger logger);

private:
    struct ScriptedResponse
    {
        int status = 200;
        std::string body = kNoUpdateResponse;
        std::string contentType = kJsonContentType;
    };

    std::unique_ptr<httplib::Server> makeServer() const;
    void registerRoutes();
    void answerCheck(const httplib::Request& request, httplib::Response& response);
    void answerUnrouted(const httplib::Request& request, httplib::Response& response);
    void record(const httplib::Request& request);
    bool awaitCheckRelease();
    ScriptedResponse checkResponse() const;
    void log(const httplib::Request& request, const std::string& outcome);

    Options options_;
    std::unique_ptr<httplib::Server> server_;
    std::thread serverThread_;
    int port_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable checkReleased_;
    bool stopping_ = false;
    bool holdChecks_ = false;
    ScriptedResponse checkResponse_;
    std::vector<RecordedRequest> requests_;

    std::mutex logMutex_;
    Logger logger_;
};

} // namespace updateservice
