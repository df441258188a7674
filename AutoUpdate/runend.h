#pragma once

#include "release/releaseoffer.h"

#include <atomic>

// How a run ends: once, from either thread, by asking the application to quit. An installation
// under way holds the end off against the user's cancel: the client is stopped then, and only the
// installation's own end starts it again.
class RunEnd
{
public:
    // Ends the run. False when it had already been ended, so a late caller must not hand over to
    // the client again.
    bool End();
    // The user's cancel: ends the run as End does, unless an installation is under way.
    bool Cancel();
    // Called by the worker when a verified package of kind is about to be installed; from then on
    // a cancel no longer ends the run. False when the run was already ended: nothing may be
    // installed then.
    bool BeginInstallation(PackageKind kind);
    // A failed installation gives the choice between retry and cancel back to the user.
    void EndInstallation();
    bool IsInstalling() const { return m_state.load() == State::Installing; }
    bool IsEnded() const { return m_state.load() == State::Ended; }
    // Lets one process hold several runs in turn (the tests do).
    void Reset() { m_state.store(State::Open); }

    // Takes the run's end for this caller without quitting yet; false when someone else already
    // took it.
    bool Claim();
    static void QuitApplication();

private:
    // The run's end and a begun installation in one value, so that a cancel and the start of an
    // installation cannot both win.
    enum class State { Open, Installing, Ended };
    std::atomic<State> m_state{State::Open};
};
