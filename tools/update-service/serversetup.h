#pragma once

#include "base/result.h"

#include <memory>

namespace httplib {
class Server;
} // namespace httplib

namespace updateservice {

struct Options;

struct BoundServer
{
    std::unique_ptr<httplib::Server> server;
    int port = 0;
};

// The HTTP or HTTPS server options ask for, with its pool of worker threads, bound to the address
// and port they name with a listen queue wide enough for bursts of clients; not yet accepting.
// Fails when the TLS certificate or private key cannot be used or the port cannot be bound.
Result<BoundServer> bindServer(const Options& options);
// cpp-httplib's stop() waits for threads that may sit on an idle keep-alive connection or in a
// waiting handler. Shutting the connections down wakes those threads and makes every response
// still to be written fail, so nothing more reaches the clients.
void shutdownConnectionsOnPort(int port);

} // namespace updateservice
