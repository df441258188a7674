#pragma once

#include "updateservice.h"

#include <atomic>
#include <condition_variable>
#include <string>

// The update server with faults to order: scripted check answers, held checks, and package
// deliveries that stall or drop part way.
class FakeUpdateService : public updateservice::UpdateService
{
public:
    // Sends stallAfter bytes, then nothing until releaseStalls() or the service stops; sends
    // dropAfter bytes, then closes the connection. When both are set, the smaller strikes first.
    struct Delivery
    {
        std::optional<quint64> stallAfter;
        std::optional<quint64> dropAfter;
    };

    FakeUpdateService();
    // The base class's destructor would stop without waking the waiting handlers.
    ~FakeUpdateService() override { stop(); }

    std::string checkUrl() const { return UpdateService::checkUrl().toStdString(); }
    std::string packageUrl() const { return UpdateService::packageUrl().toStdString(); }

    // Applies to the next check answered, including checks currently held.
    void setCheckResponse(int httpStatus, const std::string& body);
    // While on, checks are counted but left unanswered until the hold ends or the service stops.
    void setHoldChecks(bool hold) { set(m_checksHeld, hold); }
    void addPackage(const std::string& id, const std::string& bytes, Delivery delivery = {});
    // Ends the stalls for good: later ones do not wait either.
    void releaseStalls() { set(m_stallsReleased, true); }
    // Checks and package downloads received.
    std::size_t requestCount() const { return m_requests; }

protected:
    std::optional<updateservice::CheckResponse> answerCheck(const QByteArray& requestBody) override;
    void stopping() override { set(m_stopping, true); }

private:
    void set(bool& flag, bool value);
    // False when the service stops first.
    bool await(const bool& flag, bool value);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_checksHeld = false;
    bool m_stallsReleased = false;
    bool m_stopping = false;
    std::atomic<std::size_t> m_requests{0};
};
