#include "runend.h"

#include <QCoreApplication>

bool RunEnd::End()
{
    if (!Claim())
        return false;
    QuitApplication();
    return true;
}

bool RunEnd::Cancel()
{
    State open = State::Open;
    if (!m_state.compare_exchange_strong(open, State::Ended))
        return false;
    QuitApplication();
    return true;
}

bool RunEnd::BeginInstallation(PackageKind kind)
{
    // A package of a kind the updater does not install changes nothing, so it stays cancellable.
    if (kind == PackageKind::Unknown)
        return !IsEnded();
    State open = State::Open;
    m_state.compare_exchange_strong(open, State::Installing);
    return open != State::Ended;
}

void RunEnd::EndInstallation()
{
    State installing = State::Installing;
    m_state.compare_exchange_strong(installing, State::Open);
}

bool RunEnd::Claim()
{
    return m_state.exchange(State::Ended) != State::Ended;
}

void RunEnd::QuitApplication()
{
    // quit() must reach the main thread's event loop; a direct call from the worker thread is not
    // safe in Qt 5, so it is queued to the application object.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}
