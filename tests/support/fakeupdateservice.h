#ifndef FAKEUPDATESERVICE_H
#define FAKEUPDATESERVICE_H

#include "updateservice.h"

#include <condition_variable>
#include <string>
#include <vector>

// Outside the class, so that its default arguments may use their member initializers.
namespace fakeservice {

struct Options
{
    bool tls = false; // a self-signed certificate unless both files are given
    std::string certificateFile;
    std::string privateKeyFile;
};

// How a package goes out on the wire; when both stallAfter and dropAfter are set, the
// smaller one strikes first.
struct Delivery
{
    bool contentLength = true; // false: chunked transfer encoding
    // Sends this many bytes, then nothing until releaseStalls() or stop().
    std::optional<quint64> stallAfter;
    // Sends this many bytes, then closes the connection.
    std::optional<quint64> dropAfter;
};

} // namespace fakeservice

// The update server with faults to order: held checks, stalled or dropped deliveries, chunked
// delivery, redirects, scripted check answers, and a record of every request.
class FakeUpdateService : public updateservice::UpdateService
{
public:
    using Options = fakeservice::Options;
    using Delivery = fakeservice::Delivery;

    struct RecordedRequest
    {
        std::string method;
        std::string path;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;

        // First value of the named header, matched case-insensitively; empty when absent.
        std::string header(const std::string& name) const;
    };

    FakeUpdateService();
    // The base class's destructor would stop without waking the waiting handlers.
    ~FakeUpdateService() override { stop(); }

    bool start(const Options& options = {});
    std::string checkUrl() const { return UpdateService::checkUrl().toStdString(); }
    std::string packageUrl() const { return UpdateService::packageUrl().toStdString(); }

    // Applies to the next check answered, including checks currently held.
    void setCheckResponse(int httpStatus, const std::string& body);
    // While on, checks are recorded but left unanswered until the hold is switched off or the
    // service stops.
    void setHoldChecks(bool hold) { setHolds(hold, m_stallReleases, m_stopping); }
    void addPackage(const std::string& id, const std::string& bytes, Delivery delivery = {});
    void addRedirect(const std::string& id, int httpStatus, const std::string& location);
    void releaseStalls() { setHolds(m_holdChecks, m_stallReleases + 1, m_stopping); }

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const { return requests().size(); }

protected:
    void received(const updateservice::Request& request) override;
    std::optional<updateservice::CheckResponse>
    answerCheck(const updateservice::Request& request) override;
    void stopping() override { setHolds(m_holdChecks, m_stallReleases, true); }

private:
    // Holds change on the owning thread only, so it reads them without the lock.
    void setHolds(bool holdChecks, quint64 stallReleases, bool stopping);
    // False when the service stops first.
    bool awaitStallRelease();

    mutable std::mutex m_mutex;
    std::condition_variable m_holdsChanged;
    bool m_stopping = false;
    bool m_holdChecks = false;
    quint64 m_stallReleases = 0;
    std::vector<RecordedRequest> m_requests;
};

#endif // FAKEUPDATESERVICE_H
