#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace httplib {
class DataSink;
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace updateservice {

// Answer given to checks until setCheckResponse() scripts another: success, no update available.
inline constexpr const char* kNoUpdateResponse =
    R"({"code":"000000","desc":"","biz":{"update":"0"}})";
inline constexpr const char* kJsonContentType = "application/json;charset=UTF-8";
inline constexpr const char* kPackageContentType = "application/octet-stream";

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
    // Packages answer GET on this path followed by their id.
    std::string packagePath = "/pack/";
};

// How a package goes out on the wire, to exercise a client's download handling.
// When both stallAfter and dropAfter are set, the smaller one strikes first.
struct Delivery
{
    // False: chunked transfer encoding, so the client learns no length in advance.
    bool contentLength = true;
    // Sends this many bytes, then keeps the connection open without sending anything until
    // releaseStalls() (the rest then follows) or stop().
    std::optional<std::uint64_t> stallAfter;
    // Sends this many bytes, then closes the connection.
    std::optional<std::uint64_t> dropAfter;
};

struct CheckResponse
{
    int status = 200;
    std::string body = kNoUpdateResponse;
    std::string contentType = kJsonContentType;
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
// byte for byte, never compressed. Packages (GET on Options::packagePath + id) go out as their
// Delivery says. Every GET and POST is recorded; those no route takes are answered 404 with an
// empty body.
//
// start(), stop() and the port and URL getters belong to the owning thread; scripting,
// recording and logging members may be called from any thread.
//
// Needs a POSIX system: stop() finds the open connections through /dev/fd.
class UpdateService
{
public:
    using Logger = std::function<void(const std::string& line)>;
    // Computes the answer to one check; called on a service thread, possibly concurrently.
    using CheckResponder = std::function<CheckResponse(const RecordedRequest& request)>;

    UpdateService();
    ~UpdateService();
    UpdateService(const UpdateService&) = delete;
    UpdateService& operator=(const UpdateService&) = delete;

    // Binds and starts serving. False when the address cannot be bound, the certificate cannot
    // be loaded, or the service is already running; startError() then says which.
    bool start(const Options& options = {});
    std::string startError() const;
    // Closes every connection, answering nothing further, held checks included, and returns
    // once the service threads are gone. A stopped service may be started again.
    void stop();

    int port() const;
    std::string baseUrl() const; // "http://127.0.0.1:PORT" or "https://..."
    std::string checkUrl() const;
    // What a client configures as its package address: the id is appended to it.
    std::string packageUrl() const;

    // Applies to the next check answered, including checks currently held.
    void setCheckResponse(int httpStatus, std::string body,
                          std::string contentType = kJsonContentType);
    // Lets every further check be answered from its request instead of a fixed response.
    void setCheckResponder(CheckResponder responder);
    // While on, check requests are recorded but left unanswered until the hold is switched
    // off (they then get the response scripted at that moment) or the service stops (their
    // connections close without an answer).
    void setHoldChecks(bool hold);

    // GET of packageUrl() + id answers with the package; unknown ids get 404. Adding an id
    // again replaces what it served, which takes effect for the next request.
    void addPackage(const std::string& id, std::string bytes, Delivery delivery = {});
    // Streams the file in pieces, so packages of any size cost little memory. The file must
    // stay unchanged while it is served. False when it cannot be read.
    bool addPackageFile(const std::string& id, const std::string& filePath, Delivery delivery = {});
    // GET of the id answers with this status (e.g. 301, 302, 307) and Location header.
    void addRedirect(const std::string& id, int httpStatus, std::string location);
    // Stalled deliveries go on with the rest of their package.
    void releaseStalls();

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    void clearRequests();

    // Receives one line per request once its outcome is known, on a service thread, one call
    // at a time.
    void setLogger(Logger logger);

private:
    struct PackageContent
    {
        // Exactly one source: bytes in memory, or the file at filePath.
        std::shared_ptr<const std::string> bytes;
        std::string filePath;
        std::uint64_t size = 0;
        Delivery delivery;
    };
    struct Redirect
    {
        int status = 302;
        std::string location;
    };
    using PackageRoute = std::variant<PackageContent, Redirect>;
    struct Transfer;

    std::unique_ptr<httplib::Server> makeServer() const;
    void registerRoutes();
    void answerCheck(const httplib::Request& request, httplib::Response& response);
    void answerPackage(const httplib::Request& request, httplib::Response& response);
    void answerUnrouted(const httplib::Request& request, httplib::Response& response);
    void sendPackage(const httplib::Request& request, const PackageContent& content,
                     httplib::Response& response);
    bool sendPiece(Transfer& transfer, std::uint64_t offset, httplib::DataSink& sink);
    RecordedRequest record(const httplib::Request& request);
    bool awaitCheckRelease();
    bool awaitStallRelease();
    CheckResponder checkResponder() const;
    std::optional<PackageRoute> packageRoute(const std::string& id) const;
    void log(const httplib::Request& request, const std::string& outcome);
    void log(const std::string& requestLine, const std::string& outcome);

    Options options_;
    std::unique_ptr<httplib::Server> server_;
    std::thread serverThread_;
    int port_ = 0;
    std::string startError_;

    mutable std::mutex mutex_;
    // Wakes held checks and stalled deliveries.
    std::condition_variable holdsChanged_;
    bool stopping_ = false;
    bool holdChecks_ = false;
    std::uint64_t stallReleases_ = 0;
    CheckResponder checkResponder_;
    std::map<std::string, PackageRoute> packages_;
    std::vector<RecordedRequest> requests_;

    std::mutex logMutex_;
    Logger logger_;
};

} // namespace updateservice
