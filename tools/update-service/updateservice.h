#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace updateservice {

class PackageTransfer;

inline constexpr const char* kJsonContentType = "application/json;charset=UTF-8";
inline constexpr const char* kPackageContentType = "application/octet-stream";

struct Options
{
    // Serve HTTPS. Without certificateFile/privateKeyFile a fresh self-signed certificate for
    // 127.0.0.1 and localhost is made at start(); clients are not expected to trust it.
    bool tls = false;
    QString certificateFile; // PEM; used together with privateKeyFile
    QString privateKeyFile;  // PEM
    QString bindAddress = QStringLiteral("127.0.0.1");
    int port = 0; // 0 picks a free port
    QString checkPath = QStringLiteral("/check");
    // Packages answer GET on this path followed by their id.
    QString packagePath = QStringLiteral("/pack/");
};

struct CheckResponse
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = kJsonContentType;
};

// Fills piece with the package's bytes from offset on, as many as suit the reader; false ends
// the response early by closing its connection.
using PieceReader = std::function<bool(quint64 offset, QByteArray& piece)>;

// What GET of a package id answers: size bytes, with their length.
struct Package
{
    quint64 size = 0;
    // Called once per response, so each response reads with its own state.
    std::function<PieceReader()> open;
};

// The HTTP(S) update server on background threads: answers the updater's check POSTs from a
// responder and serves package files, logging one line per request.
//
// start(), stop() and the port and URL getters belong to the owning thread; the other members
// may be called from any thread.
//
// Needs a POSIX system: stop() finds the open connections through /dev/fd.
class UpdateService
{
public:
    using Logger = std::function<void(const QString& line)>;
    // Computes the answer to the check that posted requestBody; called on service threads,
    // possibly concurrently.
    using CheckResponder = std::function<CheckResponse(const QByteArray& requestBody)>;

    UpdateService();
    virtual ~UpdateService();
    UpdateService(const UpdateService&) = delete;
    UpdateService& operator=(const UpdateService&) = delete;

    // Binds and starts serving. Fails when the address cannot be bound, the certificate cannot
    // be loaded, or the service is already running.
    Outcome start(const Options& options = {});
    // Closes every connection, answering nothing further, and returns once the service threads
    // are gone. A stopped service may be started again.
    void stop();

    int port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT" or "https://..."
    QString checkUrl() const;
    // What a client configures as its package address: the id is appended to it.
    QString packageUrl() const;

    // Until set, checks are answered 200 with an empty body.
    void setCheckResponder(CheckResponder responder);
    // Streams the file in pieces, so packages of any size cost little memory. The file must
    // stay unchanged while it is served. Fails when it cannot be read.
    Outcome addPackageFile(const QString& id, const QString& filePath);
    // Receives one line per request once its outcome is known, one call at a time.
    void setLogger(Logger logger);

protected:
    static Result<Package> filePackage(const QString& filePath);
    // Adding an id again replaces what it served, from the next request on.
    void setPackage(const QString& id, Package package);

    // Nothing leaves the check unanswered: its connection closes.
    virtual std::optional<CheckResponse> answerCheck(const QByteArray& requestBody);
    // Called by stop() once the connections are closed, so handlers still waiting can return.
    virtual void stopping();

private:
    void registerRoutes();
    void onCheck(const httplib::Request& request, httplib::Response& response);
    void onPackage(const httplib::Request& request, httplib::Response& response);
    void onUnrouted(const httplib::Request& request, httplib::Response& response);
    void sendPackage(const std::shared_ptr<PackageTransfer>& transfer, httplib::Response& response);
    std::optional<Package> package(const QString& id) const;
    void log(const QString& requestLine, const QString& outcome);

    Options m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_serverThread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    CheckResponder m_checkResponder;
    QHash<QString, Package> m_packages;

    std::mutex m_logMutex;
    Logger m_logger;
};

} // namespace updateservice
