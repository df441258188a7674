#include "fakeupdateservice.h"

#include <algorithm>
#include <limits>
#include <utility>

using updateservice::CheckResponse;

constexpr quint64 kNever = std::numeric_limits<quint64>::max();

FakeUpdateService::FakeUpdateService()
{
    setCheckResponse(200, R"({"code":"000000","desc":"","biz":{"update":"0"}})");
}

void FakeUpdateService::setCheckResponse(int httpStatus, const std::string& body)
{
    const CheckResponse response{httpStatus, QByteArray::fromStdString(body)};
    setCheckResponder([response](const QByteArray&) { return response; });
}

// A response stalls at most once, so a released one runs on.
void FakeUpdateService::addPackage(const std::string& id, const std::string& bytes,
                                   Delivery delivery)
{
    const auto open = [this, bytes = QByteArray::fromStdString(bytes), delivery] {
        ++m_requests;
        return [=, stalled = false](quint64 offset, QByteArray& piece) mutable {
            if ((delivery.dropAfter && offset >= *delivery.dropAfter) ||
                (delivery.stallAfter && offset >= *delivery.stallAfter &&
                 !std::exchange(stalled, true) && !await(m_stallsReleased, true))) {
                return false;
            }
            // Pieces end where the delivery stalls or drops, so those happen at exact offsets.
            const quint64 end = std::min({offset + 64 * 1024,
                                          stalled ? kNever : delivery.stallAfter.value_or(kNever),
                                          delivery.dropAfter.value_or(kNever)});
            piece = bytes.mid(static_cast<int>(offset), static_cast<int>(end - offset));
            return true;
        };
    };
    setPackage(QString::fromStdString(id), {bytes.size(), open});
}

std::optional<CheckResponse> FakeUpdateService::answerCheck(const QByteArray& requestBody)
{
    ++m_requests;
    return await(m_checksHeld, false) ? UpdateService::answerCheck(requestBody) : std::nullopt;
}

void FakeUpdateService::set(bool& flag, bool value)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        flag = value;
    }
    m_changed.notify_all();
}

bool FakeUpdateService::await(const bool& flag, bool value)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return flag == value || m_stopping; });
    return !m_stopping;
}
