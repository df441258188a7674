#include "fakeupdateservice.h"

#include <algorithm>
#include <utility>

using updateservice::CheckResponse;
using updateservice::Package;
using updateservice::PieceReader;
using updateservice::Request;

std::string FakeUpdateService::RecordedRequest::header(const std::string& name) const
{
    const auto found = std::find_if(headers.begin(), headers.end(), [&](const auto& header) {
        return qstricmp(header.first.c_str(), name.c_str()) == 0;
    });
    return found == headers.end() ? std::string() : found->second;
}

FakeUpdateService::FakeUpdateService()
{
    setCheckResponse(200, R"({"code":"000000","desc":"","biz":{"update":"0"}})");
}

bool FakeUpdateService::start(const Options& options)
{
    setHolds(m_holdChecks, m_stallReleases, false);
    updateservice::Options served;
    served.tls = options.tls;
    served.certificateFile = QString::fromStdString(options.certificateFile);
    served.privateKeyFile = QString::fromStdString(options.privateKeyFile);
    return UpdateService::start(served);
}

void FakeUpdateService::setCheckResponse(int httpStatus, const std::string& body)
{
    const CheckResponse response{httpStatus, QByteArray::fromStdString(body)};
    setCheckResponder([response](const Request&) { return response; });
}

// A response stalls at most once, so a released one runs on.
void FakeUpdateService::addPackage(const std::string& id, const std::string& bytes,
                                   Delivery delivery)
{
    Package package;
    package.size = bytes.size();
    package.contentLength = delivery.contentLength;
    package.open = [this, bytes = QByteArray::fromStdString(bytes), delivery]() -> PieceReader {
        return [=, stalled = false](quint64 offset, QByteArray& piece) mutable {
            const bool stallNow = delivery.stallAfter && offset >= *delivery.stallAfter &&
                                  !std::exchange(stalled, true);
            if ((delivery.dropAfter && offset >= *delivery.dropAfter) ||
                (stallNow && !awaitStallRelease())) {
                return false;
            }
            // Pieces end where the delivery stalls or drops, so those happen at exact offsets.
            quint64 end = offset + 64 * 1024;
            for (const auto& cut :
                 {stalled ? std::nullopt : delivery.stallAfter, delivery.dropAfter}) {
                end = cut && *cut > offset ? std::min(end, *cut) : end;
            }
            piece = bytes.mid(static_cast<int>(offset), static_cast<int>(end - offset));
            return true;
        };
    };
    setPackage(QString::fromStdString(id), package);
}

void FakeUpdateService::addRedirect(const std::string& id, int httpStatus,
                                    const std::string& location)
{
    setPackage(QString::fromStdString(id),
               {0, true, nullptr, httpStatus, QByteArray::fromStdString(location)});
}

std::vector<FakeUpdateService::RecordedRequest> FakeUpdateService::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void FakeUpdateService::received(const Request& request)
{
    RecordedRequest record{
        request.method.toStdString(), request.path.toStdString(), {}, request.body.toStdString()};
    for (const auto& [name, value] : request.headers) {
        record.headers.emplace_back(name.toStdString(), value.toStdString());
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(std::move(record));
}

std::optional<CheckResponse> FakeUpdateService::answerCheck(const Request& request)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_holdsChanged.wait(lock, [this] { return !m_holdChecks || m_stopping; });
    if (m_stopping) {
        return std::nullopt;
    }
    lock.unlock();
    return UpdateService::answerCheck(request);
}

void FakeUpdateService::setHolds(bool holdChecks, quint64 stallReleases, bool stopping)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdChecks = holdChecks;
        m_stallReleases = stallReleases;
        m_stopping = stopping;
    }
    m_holdsChanged.notify_all();
}

bool FakeUpdateService::awaitStallRelease()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const quint64 releasesSoFar = m_stallReleases;
    m_holdsChanged.wait(lock, [&] { return m_stallReleases != releasesSoFar || m_stopping; });
    return !m_stopping;
}
