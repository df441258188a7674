#pragma once

#include "base/result.h"

namespace updateservice {

// Runs steps, callables that return an Outcome, one after the other until one fails, and hands
// back the outcome of the last one run. Spares a chain of steps a check after each.
template <typename... Steps> Outcome inTurn(const Steps&... steps)
{
    Outcome outcome = Outcome::success();
    static_cast<void>(((outcome = steps()).ok() && ...));
    return outcome;
}

} // namespace updateservice
