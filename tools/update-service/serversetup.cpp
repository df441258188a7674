#include "serversetup.h"

#include "selfsignedcert.h"
#include "updateservice.h"

#include <httplib.h>

#include <QFile>

#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>

namespace updateservice {

namespace {

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

Result<int> bindPortOnly(httplib::Server& server, const Options& options)
{
    const std::string address = options.bindAddress.toStdString();
    if (options.port == 0) {
        const int port = server.bind_to_any_port(address);
        if (port >= 0) {
            return port;
        }
    } else if (server.bind_to_port(address, options.port)) {
        return options.port;
    }
    return Result<int>::failure(QStringLiteral("cannot listen on %1 port %2: the port is taken or "
                                               "the address is not one of this machine")
                                    .arg(options.bindAddress)
                                    .arg(options.port));
}

// The server options ask for, without its worker pool.
std::unique_ptr<httplib::Server> plainOrTlsServer(const Options& options)
{
    if (!options.tls) {
        return std::make_unique<httplib::Server>();
    }
    if (!options.certificateFile.isEmpty() || !options.privateKeyFile.isEmpty()) {
        return std::make_unique<httplib::SSLServer>(
            QFile::encodeName(options.certificateFile).constData(),
            QFile::encodeName(options.privateKeyFile).constData());
    }
    // The server context takes its own references, so the generated pair can go afterwards.
    const SelfSignedCertificate generated = makeSelfSignedCertificate();
    return std::make_unique<httplib::SSLServer>(generated.certificate.get(),
                                                generated.privateKey.get());
}

bool isBoundToPort(int socket, int port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    switch (address.ss_family) {
    case AF_INET:
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port) == port;
    case AF_INET6:
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port) == port;
    default:
        return false;
    }
}

bool isConnected(int socket)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    return getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

using MadeServer = Result<std::unique_ptr<httplib::Server>>;

MadeServer makeServer(const Options& options)
{
    std::unique_ptr<httplib::Server> server = plainOrTlsServer(options);
    if (!server->is_valid()) {
        return MadeServer::failure(
            QStringLiteral("the TLS certificate or private key cannot be used"));
    }
    server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    return MadeServer(std::move(server));
}

// The shared cpp-httplib listens with the backlog it was compiled with, a handful of connections:
// a burst of clients overflows that queue, and those dropped wait for the kernel's connection
// retries, seconds apart. Listening again on the bound socket widens it.
Result<int> bindPort(httplib::Server& server, const Options& options)
{
    const auto boundSocket = std::make_shared<int>(-1);
    server.set_socket_options([boundSocket](int socket) {
        reuseAddressOnly(socket);
        *boundSocket = socket;
    });
    const Result<int> port = bindPortOnly(server, options);
    if (port) {
        // Should this fail, the library's own queue stays: slower under load, still serving.
        listen(*boundSocket, kListenBacklog);
    }
    return port;
}

} // namespace

Result<BoundServer> bindServer(const Options& options)
{
    MadeServer server = makeServer(options);
    if (!server) {
        return Result<BoundServer>::failure(server.error());
    }
    const Result<int> port = bindPort(*server.value(), options);
    if (!port) {
        return Result<BoundServer>::failure(port.error());
    }
    return BoundServer{std::move(server.value()), port.value()};
}

// cpp-httplib keeps the sockets it accepted to itself, so they are found among the process's open
// descriptors.
void shutdownConnectionsOnPort(int port)
{
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::directory_iterator entry("/dev/fd", error);
         !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const int descriptor = std::atoi(entry->path().filename().c_str());
        if (isBoundToPort(descriptor, port) && isConnected(descriptor)) {
            shutdown(descriptor, SHUT_RDWR);
        }
    }
}

} // namespace updateservice
