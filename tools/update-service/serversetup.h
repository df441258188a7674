#pragma once

#include <memory>

namespace httplib {
class Server;
} // namespace httplib

namespace updateservice {

struct Options;

// The HTTP or HTTPS server options ask for, with its pool of worker threads. Invalid when the TLS
// certificate or private key cannot be used.
std::unique_ptr<httplib::Server> makeServer(const Options& options);
// Binds server to the address and port options name, with a listen queue wide enough for bursts
// of clients; the bound port, or -1.
int bindPort(httplib::Server& server, const Options& options);
// cpp-httplib's stop() waits for threads that may sit on an idle keep-alive connection or in a
// waiting handler. Shutting the connections down wakes those threads and makes every response
// still to be written fail, so nothing more reaches the clients.
void shutdownConnectionsOnPort(int port);

} // namespace updateservice
